#include "localpages/LocalPages.h"

#include "base/TextRules.h"
#include "sites/AnalysisPage.h"

#include <QStringList>

namespace chenglan::bench {

namespace {

const QString ScheduleHead =
    QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" /><table>");

} // namespace

QString analysisDumpPage(const QString &analysisHtml, const PageRenderer &renderer) {
    return analysispage::dumpPage(analysispage::scriptCode(renderer.bodyMarkup(analysisHtml)));
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
