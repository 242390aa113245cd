#include "localpages/LocalPages.h"
#include "sites/ScheduleScraper.h"

#include <QCoreApplication>
#include <QStringList>

#include <gtest/gtest.h>

using namespace chenglan;
using namespace chenglan::bench;

namespace {

QString scheduleRow(const QString &id, bool secondStyleForm = false) {
    const QString style = secondStyleForm ? QStringLiteral("color: #FFFFFF;background-color: ")
                                          : QStringLiteral("color: #FFFFFF; background-color:");
    QStringList cells{QStringLiteral("周日001"),
                      QStringLiteral("<span style=\"") + style + QStringLiteral("#009900;\">英超</span>"),
                      QStringLiteral("15:20"), QStringLiteral("10-09 15:30"), QStringLiteral("Home FC"), QString(),
                      QStringLiteral("2-1"), QStringLiteral("切尔西"),
                      QStringLiteral("<a href=\"/handicap/") + id + QStringLiteral(".html\">亚</a>"),
                      QStringLiteral("<span id=\"guestRed_") + id + QStringLiteral("\">0</span>"),
                      QStringLiteral("1.50"), QStringLiteral("3.20"), QStringLiteral("5.00"), QStringLiteral("0.95"),
                      QStringLiteral("半球"), QStringLiteral("0.85")};
    QString html = QStringLiteral("<tr class=\"ni\">");
    for (const QString &c : cells)
        html += QStringLiteral("<td>") + c + QStringLiteral("</td>");
    return html + QStringLiteral("</tr>\n");
}

QString schedulePage(const QString &rows) {
    return QStringLiteral("<html><body><p>Navigation</p><table><tr><td colspan=\"16\">赛事 <a href=\"#\"><u>隐藏</u></a> "
                          "<a href=\"#\"><u>显示</u></a></td></tr>")
        + rows + QStringLiteral("</table><div id=\"divDaoHang\"><a href=\"/\">首页</a></div></body></html>");
}

QStringList rows(const QString &rendered) {
    QStringList lines = rendered.split(u'‖');
    lines.removeLast(); // what follows the last row end
    return lines;
}

} // namespace

TEST(JingcaiTablePage, CutsTheMatchTableAndMarksCellsAndRows) {
    const QString page =
        jingcaiTablePage(schedulePage(scheduleRow(QStringLiteral("2400001")) + scheduleRow(QStringLiteral("2400002"), true)));
    EXPECT_TRUE(page.startsWith(
        QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" /><table><tr class=\"ni\">")));
    EXPECT_FALSE(page.contains(QStringLiteral("divdaohang")));
    EXPECT_FALSE(page.contains(QStringLiteral("隐藏")));

    const QStringList lines = rows(PageRenderer().visibleText(page));
    ASSERT_EQ(lines.size(), 2);
    for (const QString &line : lines) {
        const QStringList pieces = line.trimmed().split(u',');
        ASSERT_GE(pieces.size(), 18) << line.toStdString();
        EXPECT_EQ(pieces[1], QStringLiteral("#009900;\">英超")); // both colour forms
        EXPECT_EQ(pieces[4], QStringLiteral("home fc"));         // the page is read in lower case
        EXPECT_EQ(pieces[15], QStringLiteral("0.95"));
        EXPECT_EQ(pieces[17], QStringLiteral("0.85"));
    }
    EXPECT_EQ(firstMatchId(PageRenderer().visibleText(page)), 2400001);
}

TEST(JingcaiTablePage, WithoutMarkersKeepsThePageFromPosition20) {
    const QString html = QStringLiteral("0123456789012345678<tr><td>a</td></tr>");
    EXPECT_EQ(jingcaiTablePage(html),
              QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" /><table>"
                             "<tr><td>a,</td>‖</tr>\n"));
}

TEST(FirstMatchId, SkipsShortLinesAndIsZeroWithoutAMatch) {
    EXPECT_EQ(firstMatchId(QStringLiteral("a,b‖0,1,2,3,4,5,6,7,8,9,10‖0,1,2,3,4,5,6,7,77\">,9,10,11‖")), 77);
    EXPECT_EQ(firstMatchId(QStringLiteral("0,1,2,3,4,5,6,7,8,9,10,11")), 0); // no row end
    EXPECT_EQ(firstMatchId(QString()), 0);
}

TEST(LargeTablePage, RepeatsTheRowsInsideOneTable) {
    const QString schedule = jingcaiTablePage(schedulePage(scheduleRow(QStringLiteral("7")) + scheduleRow(QStringLiteral("8"))));
    const QString large = largeTablePage(schedule, 100000);
    EXPECT_GE(large.toUtf8().size(), 100000);
    EXPECT_EQ(large.count(QStringLiteral("<table>")), 1);
    EXPECT_TRUE(large.endsWith(QStringLiteral("</table>\n")));

    const QStringList lines = rows(PageRenderer().visibleText(large));
    EXPECT_EQ(lines.size(), large.count(QStringLiteral("<tr")));
    EXPECT_EQ(lines.size() % 2, 0);
    EXPECT_EQ(lines.last().trimmed().split(u',').value(8), QStringLiteral("8"));
    EXPECT_TRUE(largeTablePage(QStringLiteral("<p>no rows</p>"), 1000).isEmpty());
}

TEST(AnalysisDumpPage, RunsThePageScriptAndWritesTheFourSections) {
    const QString html = QStringLiteral(
        "<html><head><script>var headerScript = 1;</script></head><body><p>nav</p>"
        "<script type=\"text/javascript\">\nvar lang = 0;\nfunction show_info(URL) { return URL; }\n"
        "var h2h_home = 11; var h2h_away = 22; var hometeam = '曼联'; var guestteam = '利物浦';\n"
        "var strTime = '2022-05-20 19:30';\nvar h_data = [['a',1],['b',2]]; var a_data = [['c',3]]; var v_data = [];\n"
        "</script><p>after</p></body></html>");
    const QString page = analysisDumpPage(html, PageRenderer());
    EXPECT_TRUE(page.startsWith(QStringLiteral("<script language=\"javascript\">function show_info(URL)")));
    EXPECT_FALSE(page.contains(QStringLiteral("headerScript")));
    EXPECT_EQ(PageRenderer().visibleText(page),
              QStringLiteral("a,1|b,2|$c,3|$$11,22,曼联,利物浦,2022-05-20 19:30"));
}

TEST(AnalysisDumpPage, FallsBackToTheLangMarker) {
    const QString html = QStringLiteral("<body><script>var x = 1;\nvar lang = 0; var h_data = [1]; var a_data = [];"
                                        " var v_data = []; var h2h_home = 1, h2h_away = 2, hometeam = 'h',"
                                        " guestteam = 'g', strTime = 't';</script></body>");
    const QString page = analysisDumpPage(html, PageRenderer());
    EXPECT_TRUE(page.startsWith(QStringLiteral("<script language=\"javascript\">var lang = 0;")));
    EXPECT_EQ(PageRenderer().visibleText(page), QStringLiteral("1|$$$1,2,h,g,t"));
}

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv); // the script engine needs one
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
