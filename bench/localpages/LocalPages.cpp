#include "localpages/LocalPages.h"

#include "analysis/TextRules.h"

#include <QStringList>

namespace chenglan::bench {

namespace {

// Only blanks, as the scrapers trim; line breaks stay.
QString trimBlanks(const QString &text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

const QString ScheduleHead =
    QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" /><table>");

} // namespace

QString markedSchedulePage(const QString &scheduleHtml) {
    QString html = scheduleHtml.toLower();
    // The text resumes 20 characters after the start of the start marker;
    // without the marker, from position 20 of the whole page.
    const qsizetype start = html.indexOf(QStringLiteral("显示</u></a></td></tr>"));
    html = html.mid(start < 0 ? 19 : start + 20);
    const qsizetype end = html.indexOf(QStringLiteral("<div id=\"divdaohang\""));
    if (end >= 0)
        html = trimBlanks(html.left(end));

    html.replace(QStringLiteral("</td>"), QStringLiteral(",</td>"));
    html.replace(QStringLiteral("/handicap/"), QStringLiteral("\">"));
    html.replace(QStringLiteral(".html\">亚"), QStringLiteral(","));
    html.replace(QStringLiteral("</tr>"), QStringLiteral("‖</tr>"));
    html.replace(QStringLiteral("<span id=\"guestred_"), QStringLiteral(","));
    html.replace(QStringLiteral("style=\"color: #ffffff; background-color:"), QStringLiteral("\">"));
    html.replace(QStringLiteral("style=\"color: #ffffff;background-color: "), QStringLiteral("\">"));
    return ScheduleHead + html + u'\n';
}

QString analysisDumpPage(const QString &analysisHtml, const PageRenderer &renderer) {
    const QString body = renderer.bodyMarkup(analysisHtml);
    QString code = body;
    qsizetype start = body.indexOf(QStringLiteral("function show_info(URL)"));
    if (start < 0)
        start = body.indexOf(QStringLiteral("var lang = 0"));
    if (start >= 0)
        code = body.mid(start);
    const qsizetype end = code.indexOf(QStringLiteral("</SCRIPT>"), 0, Qt::CaseSensitive);
    if (end >= 0)
        code = trimBlanks(code.left(end));
    return QStringLiteral("<script language=\"javascript\">") + code
        + QStringLiteral(
               "var len = h_data.length;for(var i=0;i<len;i++){document.write (h_data[i]+\"|\");}"
               "document.write (\"$\");"
               "var len = a_data.length;for(var i=0;i<len;i++){document.write (a_data[i]+\"|\");}"
               "document.write (\"$\");"
               "var len = v_data.length;for(var i=0;i<len;i++){document.write (v_data[i]+\"|\");}"
               "document.write (\"$\");"
               "document.write (h2h_home+\",\"+h2h_away+\",\"+hometeam+\",\"+guestteam+\",\"+strTime);"
               "</SCRIPT>\r\n");
}

QString changeDetailPage(const QString &detailHtml) {
    QString text = detailHtml.toLower();
    const qsizetype start = text.indexOf(QStringLiteral("<span id=\"odds2\""));
    if (start < 0)
        return {};
    text = text.mid(start);
    const qsizetype end = text.indexOf(QStringLiteral("</table>"));
    if (end >= 0)
        text.truncate(end);
    text = text.trimmed();
    text.replace(QStringLiteral("</td>"), QStringLiteral(",</td>"));
    return text;
}

QString largeTablePage(const QString &markedSchedule, qsizetype minUtf8Bytes) {
    const qsizetype first = markedSchedule.indexOf(QStringLiteral("<tr"), ScheduleHead.size());
    const qsizetype last = markedSchedule.lastIndexOf(QStringLiteral("</tr>"));
    if (first < 0 || last < first)
        return {};
    const QString rows = markedSchedule.mid(first, last + 5 - first);
    const qsizetype rowBytes = rows.toUtf8().size();
    const qsizetype copies = std::max<qsizetype>(1, (minUtf8Bytes + rowBytes - 1) / rowBytes);
    QString page = ScheduleHead;
    page.reserve(ScheduleHead.size() + copies * (rows.size() + 1) + 16);
    for (qsizetype i = 0; i < copies; ++i) {
        page += rows;
        page += u'\n';
    }
    return page + QStringLiteral("</table>\n");
}

qint64 firstMatchId(const QString &renderedSchedule) {
    const QStringList lines = renderedSchedule.split(u'‖');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QStringList pieces = lines[i].split(u',');
        if (pieces.size() >= 12)
            return qint64(text::leadingNumber(pieces[8]));
    }
    return 0;
}

} // namespace chenglan::bench
