#include "sites/ScheduleScraper.h"

#include "support/FakeWeb.h"
#include "support/SchedulePages.h"

#include <gtest/gtest.h>

using namespace chenglan;
using chenglan::testing::FakeWeb;
using namespace chenglan::testing::schedule;

namespace {

SiteBases testSites() {
    SiteBases sites;
    sites.odds = u"http://odds.test/"_qs;
    return sites;
}

const QString JingcaiToday = u"http://odds.test/buy/Jingcai.aspx?TypeID=105&OddsType=2&date="_qs;
const QString BeidanIssue = u"http://odds.test/buy/DanChang.aspx?typeID=5&issueNum"_qs;

struct Scrape {
    ScheduleState state;
    StepLog log;
};

Scrape jingcai(FakeWeb &web, const QString &date = QString()) {
    Scrape s;
    scrapeJingcaiSchedule(s.state, date, web, testSites(), PageRenderer(), &s.log);
    return s;
}

Scrape beidan(FakeWeb &web) {
    Scrape s;
    scrapeBeidanSchedule(s.state, web, testSites(), PageRenderer(), &s.log);
    return s;
}

QString field(const ScheduleState &s, int f, int r) { return s.matchTable.at(f, r).text(); }

} // namespace

TEST(ScrapeJingcaiSchedule, StoresEveryFieldOfAFullRow) {
    FakeWeb web;
    web.add(JingcaiToday, jingcaiPage(matchRow(u"123456"_qs, u"英超"_qs, u"曼联"_qs, u"利物浦"_qs)).toUtf8());
    const Scrape s = jingcai(web);

    ASSERT_EQ(s.state.matchTable.rows(), 1) << describe(s.state.matchTable).toStdString();
    ASSERT_EQ(s.state.matchTable.columns(), 21);
    EXPECT_EQ(s.state.matchTable.at(0, 0), Value(123456.0));
    EXPECT_EQ(field(s.state, 1, 0), u"#009900"_qs);
    EXPECT_EQ(field(s.state, 2, 0), u"英超"_qs);
    EXPECT_EQ(field(s.state, 3, 0), u"10-09 15:30"_qs);
    EXPECT_TRUE(s.state.matchTable.at(4, 0).isEmpty()) << "the Jingcai scraper never sets the suffix";
    EXPECT_EQ(field(s.state, 5, 0), u"曼联"_qs);
    EXPECT_EQ(field(s.state, 6, 0), u"2-1"_qs);
    EXPECT_EQ(field(s.state, 7, 0), u"利物浦"_qs);
    EXPECT_EQ(field(s.state, 8, 0), u"0.95"_qs);
    EXPECT_EQ(field(s.state, 9, 0), u"半球"_qs);
    EXPECT_EQ(field(s.state, 10, 0), u"0.85"_qs);
    for (int f = 11; f <= 20; ++f)
        EXPECT_TRUE(s.state.matchTable.at(f, 0).isEmpty()) << f;
    EXPECT_EQ(s.state.matchRowFlags, [] { ValueArray a(1); a.set(0, Value::fromInt16(1)); return a; }());
    EXPECT_EQ(scheduleOutcome(s.state, s.log), ScheduleOutcome::Listed);
    EXPECT_EQ(web.requests, QStringList{JingcaiToday});
    EXPECT_EQ(web.methods, QList{HttpRequest::Method::Post});
}

TEST(ScrapeJingcaiSchedule, AsksForThePickedDay) {
    FakeWeb web;
    web.add(JingcaiToday + u"2022-10-9"_qs, jingcaiPage(matchRow(u"1"_qs, u"英超"_qs, u"a"_qs, u"b"_qs)).toUtf8());
    EXPECT_EQ(listedMatchCount(jingcai(web, u"2022-10-9"_qs).state), 1);
}

TEST(ScrapeJingcaiSchedule, KeepsRowsOfTwelvePiecesAndDropsShorterOnesWithoutAGap) {
    const QString eleven = row({u"周日002"_qs, leagueCell(u"#ff0000"_qs, u"德甲"_qs), u"x"_qs, u"x"_qs, u"x"_qs,
                                u"x"_qs, u"x"_qs, u"x"_qs, handicapLink(u"222"_qs)});
    const QString twelve = row({u"周日003"_qs, leagueCell(u"#0000ff"_qs, u"意甲"_qs), u"x"_qs, u"11:00"_qs,
                                u"主"_qs, u""_qs, u"0-0"_qs, u"客"_qs, handicapLink(u"333"_qs), u"x"_qs});
    FakeWeb web;
    web.add(JingcaiToday, jingcaiPage(matchRow(u"111"_qs, u"英超"_qs, u"a"_qs, u"b"_qs) + eleven + twelve
                                      + matchRow(u"444"_qs, u"法甲"_qs, u"c"_qs, u"d"_qs))
                              .toUtf8());
    const Scrape s = jingcai(web);

    ASSERT_EQ(s.state.matchTable.rows(), 3);
    EXPECT_EQ(s.state.matchTable.at(0, 0).number(), 111);
    EXPECT_EQ(s.state.matchTable.at(0, 1).number(), 333);
    EXPECT_EQ(s.state.matchTable.at(0, 2).number(), 444);
    EXPECT_EQ(field(s.state, 2, 1), u"意甲"_qs);
    EXPECT_EQ(field(s.state, 7, 1), u"客"_qs);
    for (int f = 8; f <= 10; ++f)
        EXPECT_TRUE(s.state.matchTable.at(f, 1).isEmpty()) << "piece missing, field " << f;
    EXPECT_EQ(listedMatchCount(s.state), 3);
}

TEST(ScrapeJingcaiSchedule, ReadsEitherFormOfTheLeagueColourAndLowerCasesNames) {
    FakeWeb web;
    web.add(JingcaiToday, jingcaiPage(matchRow(u"1"_qs, u"EPL"_qs, u"Man UTD"_qs, u"LIVERPOOL"_qs)
                                      + matchRow(u"2"_qs, u"英超"_qs, u"a"_qs, u"b"_qs, QString(), true))
                              .toUtf8());
    const Scrape s = jingcai(web);

    ASSERT_EQ(s.state.matchTable.rows(), 2);
    EXPECT_EQ(field(s.state, 2, 0), u"epl"_qs);
    EXPECT_EQ(field(s.state, 5, 0), u"man utd"_qs);
    EXPECT_EQ(field(s.state, 7, 0), u"liverpool"_qs);
    EXPECT_EQ(field(s.state, 1, 1), u"#009900"_qs);
    EXPECT_EQ(field(s.state, 2, 1), u"英超"_qs);
}

TEST(ScrapeJingcaiSchedule, ReadsTheMatchIdFromTheStartOfPieceEight) {
    // Without the 亚 text the link is not turned into "id," and the rest of
    // its markup stays in the piece behind the digits.
    const QString trailing = row({u"周日001"_qs, leagueCell(u"#009900"_qs, u"英超"_qs), u"x"_qs, u"x"_qs, u"x"_qs,
                                  u"x"_qs, u"x"_qs, u"x"_qs, u"<a href=\"/handicap/987.html\" title=\"t\">析</a>"_qs,
                                  u"x"_qs, u"x"_qs, u"x"_qs});
    const QString noNumber = row({u"周日002"_qs, leagueCell(u"#009900"_qs, u"英超"_qs), u"x"_qs, u"x"_qs, u"x"_qs,
                                  u"x"_qs, u"x"_qs, u"x"_qs, u"未开售"_qs, u"x"_qs, u"x"_qs, u"x"_qs});
    FakeWeb web;
    web.add(JingcaiToday, jingcaiPage(trailing + noNumber).toUtf8());
    const Scrape s = jingcai(web);

    ASSERT_EQ(s.state.matchTable.rows(), 2);
    EXPECT_EQ(s.state.matchTable.at(0, 0), Value(987.0));
    EXPECT_EQ(s.state.matchTable.at(0, 1), Value(0.0));
}

TEST(ScrapeJingcaiSchedule, ReadsTheIdBehindTheAwayTeamsRedCardSpan) {
    // The away cell's red-card span turns into a comma and the id, so piece 8
    // is the id followed by the rest of the span's start tag; the analysis
    // links, with blanks between them, fill pieces 13 and 14.
    const QString away = u"<a href=\"/zq/team/9.html\">Chelsea</a><span id=\"guestred_4242\" class=\"red\">1</span>"_qs;
    const QString links = u"<a href=\"/zq/analysis/4242cn.htm\">析</a>&nbsp;<a target=\"_blank\" "
                          u"href=\"/odds/handicap/4242.html\">亚</a>&nbsp;<a href=\"#\">欧</a>"_qs;
    auto td = [](const QString &text) { return u"<td>"_qs + text + u"</td>"_qs; };
    const QString siteRow = u"<tr id=\"tr_4242\">"_qs + td(u"周六001"_qs)
        + u"<td style=\"color: #FFFFFF;background-color: #663399;\"><a href=\"/odds/league/36.html\">英超</a></td>"_qs
        + td(u"完"_qs) + td(u"10-08 19:30"_qs) + td(u"阿森纳"_qs) + td(u"-1"_qs) + td(u"2-0"_qs) + td(away)
        + td(u"1-0"_qs) + td(u"1.5"_qs) + td(u"3.9"_qs) + td(u"6.0"_qs) + td(links) + td(u"0.92"_qs)
        + td(u"半球/一球"_qs) + td(u"0.96"_qs) + u"</tr>"_qs;
    FakeWeb web;
    web.add(JingcaiToday, jingcaiPage(siteRow).toUtf8());
    const Scrape s = jingcai(web);

    ASSERT_EQ(s.state.matchTable.rows(), 1) << describe(s.state.matchTable).toStdString();
    EXPECT_EQ(s.state.matchTable.at(0, 0), Value(4242.0));
    EXPECT_EQ(field(s.state, 1, 0), u"#663399"_qs);
    EXPECT_EQ(field(s.state, 2, 0), u"英超"_qs);
    EXPECT_EQ(field(s.state, 7, 0), u"chelsea"_qs);
    EXPECT_EQ(field(s.state, 8, 0), u"0.92"_qs);
    EXPECT_EQ(field(s.state, 9, 0), u"半球/一球"_qs);
    EXPECT_EQ(field(s.state, 10, 0), u"0.96"_qs);
}

TEST(ScrapeJingcaiSchedule, WithoutTheStartMarkerCutsAtPositionTwentyAndSaysTheLayoutChanged) {
    // "<html><body><table>" is exactly the 19 characters dropped.
    FakeWeb web;
    web.add(JingcaiToday, (u"<html><body><table>"_qs + matchRow(u"5"_qs, u"英超"_qs, u"a"_qs, u"b"_qs)
                           + u"</table><div id=\"divdaohang\"></div>"_qs)
                              .toUtf8());
    const Scrape s = jingcai(web);

    EXPECT_EQ(listedMatchCount(s.state), 1);
    EXPECT_EQ(s.log.first(FailureKind::Layout),
              u"odds site, Jingcai schedule page: start marker \"显示</u></a></td></tr>\" missing"_qs);
    EXPECT_TRUE(scheduleStatusText(u"竞彩"_qs, s.state, s.log).contains(u"注意"_qs));
}

TEST(ScrapeJingcaiSchedule, WithoutTheEndMarkerReadsToTheEndOfThePage) {
    FakeWeb web;
    QString page = jingcaiPage(matchRow(u"1"_qs, u"英超"_qs, u"a"_qs, u"b"_qs));
    page.replace(u"divDaoHang"_qs, u"nav"_qs);
    page += u"<table>"_qs + matchRow(u"2"_qs, u"德甲"_qs, u"c"_qs, u"d"_qs) + u"</table>"_qs;
    web.add(JingcaiToday, page.toUtf8());
    const Scrape s = jingcai(web);

    EXPECT_EQ(listedMatchCount(s.state), 2);
    EXPECT_TRUE(s.log.has(FailureKind::Layout));
}

TEST(ScrapeJingcaiSchedule, NeverKeepsThePreviousDaysMatches) {
    FakeWeb good;
    good.add(JingcaiToday, jingcaiPage(matchRow(u"1"_qs, u"英超"_qs, u"a"_qs, u"b"_qs)).toUtf8());
    ScheduleState state;
    scrapeJingcaiSchedule(state, QString(), good, testSites(), PageRenderer());
    ASSERT_EQ(listedMatchCount(state), 1);

    FakeWeb down;
    down.fail(JingcaiToday, u"connection refused"_qs);
    StepLog log;
    scrapeJingcaiSchedule(state, QString(), down, testSites(), PageRenderer(), &log);
    EXPECT_EQ(state.matchTable.rows(), 0);
    EXPECT_EQ(state.matchRowFlags.size(), 0);
    EXPECT_EQ(scheduleOutcome(state, log), ScheduleOutcome::NetworkFailed);
    EXPECT_TRUE(scheduleStatusText(u"今日竞彩赛程"_qs, state, log)
                    .startsWith(u"今日竞彩赛程读取失败：连不上赔率网站，列表已清空"_qs));
}

TEST(ScrapeJingcaiSchedule, TellsAnErrorPageFromAChangedLayoutFromADayWithoutMatches) {
    const QByteArray errorPage = "<html><body><h1>Service Unavailable</h1></body></html>";
    FakeWeb web;
    web.add(JingcaiToday + u"1"_qs, errorPage, 503);
    web.add(JingcaiToday + u"2"_qs, errorPage, 200);
    web.add(JingcaiToday + u"3"_qs,
            jingcaiPage(u"<tr><td colspan=\"16\">今日没有比赛</td></tr>"_qs).toUtf8());
    web.add(JingcaiToday + u"4"_qs, QByteArray());

    const Scrape siteError = jingcai(web, u"1"_qs);
    EXPECT_EQ(scheduleOutcome(siteError.state, siteError.log), ScheduleOutcome::SiteError);
    EXPECT_EQ(siteError.state.matchTable.rows(), 0);
    EXPECT_TRUE(scheduleStatusText(u"竞彩"_qs, siteError.state, siteError.log).contains(u"赔率网站出错"_qs));
    EXPECT_TRUE(siteError.log.first(FailureKind::SiteError).contains(u"HTTP 503"_qs)) << "the cause in the log";

    const Scrape layout = jingcai(web, u"2"_qs);
    EXPECT_EQ(scheduleOutcome(layout.state, layout.log), ScheduleOutcome::LayoutChanged);
    EXPECT_EQ(layout.state.matchTable.rows(), 0);
    EXPECT_TRUE(scheduleStatusText(u"竞彩"_qs, layout.state, layout.log).contains(u"页面格式变了"_qs));
    EXPECT_EQ(layout.log.first(FailureKind::Layout),
              u"odds site, Jingcai schedule page: start marker \"显示</u></a></td></tr>\" missing"_qs);

    const Scrape noMatch = jingcai(web, u"3"_qs);
    EXPECT_EQ(scheduleOutcome(noMatch.state, noMatch.log), ScheduleOutcome::NoMatch);
    EXPECT_EQ(noMatch.state.matchTable.rows(), 1) << "the row that did not qualify stays, unlisted";
    EXPECT_TRUE(noMatch.state.matchRowFlags.at(0).isEmpty());
    EXPECT_EQ(scheduleStatusText(u"2022-10-9 竞彩赛程"_qs, noMatch.state, noMatch.log),
              u"2022-10-9 竞彩赛程：这一天没有比赛。"_qs);

    // An empty answer is no page in another layout: the site sent nothing.
    const Scrape empty = jingcai(web, u"4"_qs);
    EXPECT_EQ(scheduleOutcome(empty.state, empty.log), ScheduleOutcome::SiteError);
    EXPECT_TRUE(scheduleStatusText(u"竞彩"_qs, empty.state, empty.log).contains(u"赔率网站出错"_qs));
    EXPECT_TRUE(empty.log.first(FailureKind::SiteError).contains(u"the answer is empty"_qs));
}

TEST(ScrapeJingcaiSchedule, ACancelledFetchEndsTheScrape) {
    FakeWeb web;
    web.add(JingcaiToday, jingcaiPage(matchRow(u"1"_qs, u"英超"_qs, u"a"_qs, u"b"_qs)).toUtf8());
    web.abort();
    ScheduleState state;
    try {
        scrapeJingcaiSchedule(state, QString(), web, testSites(), PageRenderer());
        FAIL() << "a cancelled scrape must not go on";
    } catch (const StepFailure &f) {
        EXPECT_EQ(f.kind(), FailureKind::Cancelled);
    }
}

TEST(ScrapeBeidanSchedule, AddsTheHandicapSuffixOnlyWhenPieceFiveHasText) {
    FakeWeb web;
    web.add(BeidanIssue, beidanPage(matchRow(u"7"_qs, u"英超"_qs, u"a"_qs, u"b"_qs, u"-1"_qs)
                                    + matchRow(u"8"_qs, u"德甲"_qs, u"c"_qs, u"d"_qs))
                             .toUtf8());
    const Scrape s = beidan(web);

    EXPECT_EQ(web.requests, QStringList{BeidanIssue});
    ASSERT_EQ(s.state.matchTable.rows(), 2) << describe(s.state.matchTable).toStdString();
    EXPECT_EQ(s.state.matchTable.at(0, 0), Value(7.0));
    EXPECT_EQ(field(s.state, 4, 0), u" (-1)"_qs);
    EXPECT_EQ(field(s.state, 9, 0), u"半球"_qs);
    EXPECT_TRUE(s.state.matchTable.at(4, 1).isEmpty());
    EXPECT_EQ(field(s.state, 2, 1), u"德甲"_qs);
    EXPECT_FALSE(s.log.has(FailureKind::Layout));
}

TEST(ScrapeBeidanSchedule, KnowsOnlyTheFirstFormOfTheLeagueColour) {
    FakeWeb web;
    web.add(BeidanIssue, beidanPage(matchRow(u"7"_qs, u"英超"_qs, u"a"_qs, u"b"_qs, QString(), true)).toUtf8());
    const Scrape s = beidan(web);

    ASSERT_EQ(s.state.matchTable.rows(), 1);
    EXPECT_EQ(field(s.state, 1, 0), u"英超"_qs) << "the style stays markup, the name is all piece 1 holds";
    EXPECT_TRUE(s.state.matchTable.at(2, 0).isEmpty());
}

TEST(ScrapeBeidanSchedule, WithoutItsMarkerCutsAtPositionTwenty) {
    FakeWeb web;
    web.add(BeidanIssue, (u"<html><body><table>"_qs + matchRow(u"9"_qs, u"英超"_qs, u"a"_qs, u"b"_qs, u"+2"_qs)
                          + u"</table>"_qs)
                             .toUtf8());
    const Scrape s = beidan(web);

    ASSERT_EQ(listedMatchCount(s.state), 1);
    EXPECT_EQ(field(s.state, 4, 0), u" (+2)"_qs);
    EXPECT_TRUE(s.log.has(FailureKind::Layout));
}
