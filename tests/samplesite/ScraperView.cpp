#include "ScraperView.h"

#include "html/PageRenderer.h"

namespace chenglan::sample::view {

QStringList scheduleRows(const QString &page, Schedule kind) {
    QString html = page.toLower();
    const QString start = kind == Schedule::Jingcai ? QStringLiteral("显示</u></a></td></tr>") : QStringLiteral("参考sp值");
    const qsizetype p = html.indexOf(start);   // 0-based; the scrapers resume 20 characters on
    html = html.mid(p < 0 ? 19 : p + 20);
    const QString end = kind == Schedule::Jingcai ? QStringLiteral("<div id=\"divdaohang\"") : QStringLiteral("</table>");
    const qsizetype q = html.indexOf(end);
    if (q >= 0)
        html = html.left(q).trimmed();
    html.replace(QStringLiteral("</td>"), QStringLiteral(",</td>"));
    html.replace(QStringLiteral("/handicap/"), QStringLiteral("\">"));
    html.replace(QStringLiteral(".html\">亚"), QStringLiteral(","));
    html.replace(QStringLiteral("</tr>"), QStringLiteral("\u2016</tr>"));
    html.replace(QStringLiteral("<span id=\"guestred_"), QStringLiteral(","));
    html.replace(QStringLiteral("style=\"color: #ffffff; background-color:"), QStringLiteral("\">"));
    if (kind == Schedule::Jingcai)
        html.replace(QStringLiteral("style=\"color: #ffffff;background-color: "), QStringLiteral("\">"));
    const QString text = PageRenderer().visibleText(
        QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" /><table>") + html
        + u'\n');
    QStringList rows = text.split(QChar(0x2016));
    rows.removeLast();
    return rows;
}

QStringList analysisTexts(const QString &html) {
    const PageRenderer renderer;
    const QString body = renderer.bodyMarkup(html);
    qsizetype start = body.indexOf(QStringLiteral("function show_info(URL)"));
    if (start < 0)
        start = body.indexOf(QStringLiteral("var lang = 0"));
    QString code = start >= 0 ? body.mid(start) : body;
    code = code.left(code.indexOf(QStringLiteral("</SCRIPT>"))).trimmed();
    const QString dump = QStringLiteral(
        "var len = h_data.length;for(var i=0;i<len;i++){document.write (h_data[i]+\"|\");}"
        "document.write (\"$\");"
        "var len = a_data.length;for(var i=0;i<len;i++){document.write (a_data[i]+\"|\");}"
        "document.write (\"$\");"
        "var len = v_data.length;for(var i=0;i<len;i++){document.write (v_data[i]+\"|\");}"
        "document.write (\"$\");"
        "document.write (h2h_home+\",\"+h2h_away+\",\"+hometeam+\",\"+guestteam+\",\"+strTime);"
        "</SCRIPT>");
    return renderer.visibleText(QStringLiteral("<script language=\"javascript\">") + code + dump + u'\n').split(u'$');
}

QStringList detailLines(const QString &page) {
    QString html = page.toLower();
    const qsizetype p = html.indexOf(QStringLiteral("<span id=\"odds2\""));
    if (p >= 0)
        html = html.mid(p);
    html = html.left(html.indexOf(QStringLiteral("</table>"))).trimmed();
    html.replace(QStringLiteral("</td>"), QStringLiteral(",</td>"));
    QString text = PageRenderer().visibleText(html + u'\n');
    text.replace(QStringLiteral("受让"), QStringLiteral("受"));
    return text.split(u'\r');
}

} // namespace chenglan::sample::view
