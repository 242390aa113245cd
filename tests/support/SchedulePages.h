#pragma once

#include <QString>
#include <QStringList>

// Schedule pages of the odds site, written by hand in the site's markup: the
// header row ending in the start marker, match rows, the navigation block.
namespace chenglan::testing::schedule {

inline QString row(const QStringList &cells) {
    QString html = QStringLiteral("<tr class=\"ni\">");
    for (const QString &c : cells)
        html += QStringLiteral("<td>") + c + QStringLiteral("</td>");
    return html + QStringLiteral("</tr>");
}

// The league cell in either form of its colour style.
inline QString leagueCell(const QString &colour, const QString &league, bool secondForm = false) {
    const QString style = secondForm ? QStringLiteral("color: #FFFFFF;background-color: ")
                                     : QStringLiteral("color: #FFFFFF; background-color:");
    return QStringLiteral("<span style=\"") + style + colour + QStringLiteral(";\"><a href=\"/league/36\">") + league
           + QStringLiteral("</a></span>");
}

inline QString handicapLink(const QString &id) {
    return QStringLiteral("<a href=\"/handicap/") + id + QStringLiteral(".html\">亚</a>");
}

// A match row. The handicap link yields two pieces (8 and 9) and the
// red-card span one more, so the three odds cells at the end land on
// pieces 15 to 17.
inline QString matchRow(const QString &id, const QString &league, const QString &home, const QString &away,
                        const QString &beidanHandicap = QString(), bool secondForm = false,
                        const QString &colour = QStringLiteral("#009900")) {
    return row({QStringLiteral("周日001"), leagueCell(colour, league, secondForm), QStringLiteral("15:20"),
                QStringLiteral("10-09 15:30"), home, beidanHandicap, QStringLiteral("2-1"), away, handicapLink(id),
                QStringLiteral("<span id=\"guestRed_") + id + QStringLiteral("\">0</span>"), QStringLiteral("1.50"),
                QStringLiteral("3.20"), QStringLiteral("5.00"), QStringLiteral("0.95"), QStringLiteral("半球"),
                QStringLiteral("0.85")});
}

inline QString jingcaiPage(const QString &rows) {
    return QStringLiteral("<html><body><table id=\"main\"><tr><td colspan=\"16\">赛事 <a href=\"#\"><u>隐藏</u></a> "
                          "<a href=\"#\"><u>显示</u></a></td></tr>")
           + rows + QStringLiteral("</table><div id=\"divDaoHang\"><a href=\"/\">首页</a></div></body></html>");
}

inline QString beidanPage(const QString &rows) {
    // Fifteen characters lie between the end of the marker and the first row.
    return QStringLiteral("<html><body><table><tr><th>场次</th><th>参考SP值</th></tr>\r\n   ") + rows
           + QStringLiteral("</table><p>说明</p></body></html>");
}

} // namespace chenglan::testing::schedule
