#include "usecases/SimilarAnalysis.h"
#include "usecases/SimilarMatches.h"
#include "sites/HandicapDetail.h"

#include "net/PageCache.h"
#include "support/AnalysisPages.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace chenglan;
using namespace chenglan::testing;
using namespace Qt::StringLiterals;

namespace {

const QString AnalysisBase = u"http://analysis.test/"_s;
const QString DetailBase = u"http://detail.test/"_s;
constexpr int ListId = 555;

QString detailUrl(int id) { return DetailBase + u"changeDetail/handicap.aspx?id=%1&companyID=3"_s.arg(id); }

// A change-detail page with the given rows (cells separated by "|"), newest first.
QString detailPage(const QStringList &rows) {
    QString page = u"<html><body><span id=\"odds2\"><table>"
                   u"<tr><td>比分</td><td>状态</td><td>主队</td><td>盘口</td><td>客队</td><td>时间</td></tr>"_s;
    for (const QString &row : rows)
        page += u"<tr><td>"_s + row.split(u'|').join(u"</td><td>"_s) + u"</td></tr>"_s;
    return page + u"</table></span></body></html>"_s;
}

struct Fixture {
    TwoTeamWorld world; // its analysed match (id 100) is the historic match opened from the grid
    FakeWeb web;
    SiteBases sites;
    PageRenderer renderer;
    AnalysisState s;
    QStringList steps;

    Fixture() {
        sites.analysis = AnalysisBase;
        sites.detail = DetailBase;
        world.serve(web, AnalysisBase);
        addGbPage(web, detailUrl(ListId),
                  detailPage(
                      {u"0-0|即时|0.80|半球|1.05|05-01 18:00"_s, u"0-0|早盘|0.90|平手/半球|0.95|04-28 10:00"_s}));
        addGbPage(web, detailUrl(world.analysedId),
                  detailPage({u"2-1|完场|0.88|受让一球|0.98|05-20 19:00"_s,
                              u"0-0|早盘|0.92|受让半球/一球|0.94|05-17 12:00"_s}));
        // The state after a list click: the list match's strength profile and
        // the answer of the data service, whose row 1 is the historic match.
        s.listMatchId = Value(double(ListId));
        s.listMatchTime = Value(QDateTime(QDate(2023, 5, 2), QTime(20, 0), Qt::UTC));
        s.analysisMode = AnalysisMode::ListMatch;
        s.listHandicapLoaded = Value::fromInt16(0);
        s.profile.strengths = ValueArray(8);
        for (int i = 0; i < 8; ++i)
            s.profile.strengths.set(i, Value(0.25 * i));
        s.profile.code20 = Value(u"A31"_s);
        s.profile.code10 = Value(u"D10"_s);
        s.listMatchCaption = Value(u"list caption"_s);
        s.handicapSummary = Table(HandicapItems, HandicapMatches);
        s.similarMatches =
            parseSimilarAnswer(u"77,,2020-01-01,#FF0000,意甲,a,b,|"_s
                               u"100,,2022-05-20 19:30,#009900,英格兰超级联赛,曼彻斯特联队,利物浦足球俱乐部,3,2,1,|"_s);
    }
    AnalysisContext context() {
        return AnalysisContext{web, sites, renderer, nullptr, [this](AnalysisStep step) { steps << stepLabel(step); }};
    }
};

} // namespace

TEST(AnalyzeSimilarRow, AnalysesTheHistoricMatchAndBothHandicaps) {
    Fixture f;
    const AnalysisState before = f.s;
    const SimilarRun run = analyzeSimilarRow(f.s, Value(u"1"_s), f.context());

    EXPECT_TRUE(run.ok) << run.status.toStdString();
    EXPECT_EQ(run.status, u"历史比赛分析完成"_s);
    EXPECT_EQ(f.steps,
              (QStringList{u"loadAnalysisPage"_s, u"info"_s, u"parseTeamHistories"_s, u"loadAnalysisPage home"_s,
                           u"extendHomeHistory"_s, u"loadAnalysisPage away"_s, u"extendAwayHistory"_s,
                           u"computeStrengthTrends"_s, u"caption"_s, u"scrapeHandicapChanges list"_s,
                           u"scrapeHandicapChanges"_s, u"scrapeHandicapChanges again"_s}));
    EXPECT_EQ(f.web.requests,
              (QStringList{TwoTeamWorld::pageUrl(AnalysisBase, 100), TwoTeamWorld::pageUrl(AnalysisBase, 1029),
                           TwoTeamWorld::pageUrl(AnalysisBase, 2029), detailUrl(ListId), detailUrl(100),
                           detailUrl(100)}));

    EXPECT_EQ(f.s.similarRowKey, Value(u"1"_s));
    EXPECT_EQ(f.s.analysisMode, AnalysisMode::SimilarMatch);
    EXPECT_EQ(f.s.homeTeamId, Value(11.0));
    EXPECT_EQ(f.s.awayTeamId, Value(22.0));
    EXPECT_EQ(f.s.homeHistory.rows(), 60);
    EXPECT_EQ(f.s.awayHistory.rows(), 60);
    EXPECT_GT(f.s.trendSeries.rows(), 7);
    // The historic match is described; the list match keeps its own values.
    EXPECT_EQ(f.s.currentMatchId, Value(u"100"_s));
    EXPECT_EQ(f.s.matchDate, Value(f.world.kickOff));
    EXPECT_EQ(f.s.profile.strengths, before.profile.strengths);
    EXPECT_EQ(f.s.profile.code20, before.profile.code20);
    EXPECT_EQ(f.s.listMatchCaption, before.listMatchCaption);
    EXPECT_EQ(f.s.listMatchTime, before.listMatchTime);
    EXPECT_EQ(f.s.similarMatches, before.similarMatches);
    EXPECT_TRUE(f.s.homeTeamName.isEmpty());

    EXPECT_EQ(f.s.similarMatchCaption, Value(u"英格兰超 2022-05-20 19:30 曼彻斯特联2-1 利物浦足球"_s));
    EXPECT_EQ(f.s.chartCaption, f.s.similarMatchCaption);

    EXPECT_EQ(f.s.listHandicapLoaded.number(), 1);
    EXPECT_EQ(run.listChanges, 2);
    EXPECT_EQ(run.similarChanges, 2);
    const Table &h = f.s.handicapSummary;
    EXPECT_EQ(h.at(1, 0), Value(u"平手/半球"_s));
    EXPECT_EQ(h.at(3, 0), Value(QDateTime(QDate(2023, 4, 28), QTime(10, 0), Qt::UTC)));
    EXPECT_EQ(h.at(5, 0), Value(u"半球"_s));
    EXPECT_EQ(h.at(1, 1), Value(u"受半球/一球"_s));
    EXPECT_EQ(h.at(4, 1), Value(0.88));
    EXPECT_EQ(h.at(7, 1), Value(QDateTime(QDate(2022, 5, 20), QTime(19, 0), Qt::UTC)));
}

TEST(AnalyzeSimilarRow, LaterClicksFetchOnlyTheHistoricMatchsHandicap) {
    Fixture f;
    analyzeSimilarRow(f.s, Value(u"1"_s), f.context());
    f.web.requests.clear();
    const SimilarRun again = analyzeSimilarRow(f.s, Value(u"1"_s), f.context());
    EXPECT_EQ(again.listChanges, -1);
    EXPECT_EQ(f.web.requests.mid(3), (QStringList{detailUrl(100), detailUrl(100)}));
}

TEST(AnalyzeSimilarRow, UnreachableListHandicapIsTriedAgainNextClick) {
    Fixture f;
    f.web.fail(detailUrl(ListId), u"timed out"_s);
    const SimilarRun run = analyzeSimilarRow(f.s, Value(u"1"_s), f.context());
    EXPECT_FALSE(run.ok);
    EXPECT_TRUE(run.status.endsWith(u"；本场的盘口变化读取失败"_s)) << run.status.toStdString();
    EXPECT_EQ(f.s.listHandicapLoaded.number(), 0);
    // The historic match's changes still land in match 1, never in match 0.
    EXPECT_EQ(f.s.handicapSummary.at(4, 1), Value(0.88));
    EXPECT_TRUE(f.s.handicapSummary.at(0, 0).isEmpty());

    f.web.requests.clear();
    analyzeSimilarRow(f.s, Value(u"1"_s), f.context());
    EXPECT_TRUE(f.web.requests.contains(detailUrl(ListId)));
}

TEST(AnalyzeSimilarRow, RowKeyNamingNoRowChangesNothing) {
    for (const Value &key : {Value(), Value(u""_s), Value(u"x"_s), Value(u"2"_s), Value(u"-1"_s), Value(u"0.5"_s)}) {
        Fixture f;
        const AnalysisState before = f.s;
        const SimilarRun run = analyzeSimilarRow(f.s, key, f.context());
        EXPECT_FALSE(run.rowFound) << describe(key).toStdString();
        EXPECT_FALSE(run.status.isEmpty());
        EXPECT_EQ(f.s, before) << describe(key).toStdString();
        EXPECT_TRUE(f.web.requests.isEmpty());
    }
}

TEST(AnalyzeSimilarRow, AnErrorPageIsSaidAsTheSitesError) {
    Fixture f;
    f.web.add(AnalysisBase + u"analysis/77cn.htm"_s, "<html>Server Error</html>", 500, "text/html; charset=utf-8");
    const SimilarRun run = analyzeSimilarRow(f.s, Value(u"0"_s), f.context());
    EXPECT_FALSE(run.pageRead);
    EXPECT_EQ(run.status.section(u'；', 0, 0), u"历史比赛的分析页面读取失败：分析网站出错"_s);
    EXPECT_TRUE(run.log.entries.first().message.contains(u"HTTP 500"_s)) << "the cause in the log";
    EXPECT_EQ(f.s.homeHistory.rows(), 0);
}

TEST(AnalyzeSimilarRow, MissingPageIsSaidAndLeavesNothingOfThePreviousMatch) {
    Fixture f;
    analyzeSimilarRow(f.s, Value(u"1"_s), f.context());
    // Row 0 names match 77, which the analysis site does not answer.
    const SimilarRun run = analyzeSimilarRow(f.s, Value(u"0"_s), f.context());
    EXPECT_FALSE(run.ok);
    EXPECT_FALSE(run.pageRead);
    EXPECT_TRUE(run.status.startsWith(u"历史比赛的分析页面读取失败"_s)) << run.status.toStdString();
    EXPECT_TRUE(f.s.homeTeamId.isEmpty());
    EXPECT_TRUE(f.s.matchDate.isEmpty());
    EXPECT_EQ(f.s.homeHistory.rows(), 0);
    EXPECT_EQ(f.s.trendSeries.rows(), 0);
    EXPECT_TRUE(f.s.similarMatchCaption.text().startsWith(u"意甲  a"_s))
        << f.s.similarMatchCaption.text().toStdString();
    for (int i = 0; i < HandicapItems; ++i)
        EXPECT_TRUE(f.s.handicapSummary.at(i, 1).isEmpty()) << i;
    EXPECT_EQ(f.s.handicapSummary.at(5, 0), Value(u"半球"_s)); // the list match's stays
}

TEST(AnalyzeSimilarRow, CancellationEndsTheRun) {
    Fixture f;
    f.web.abort();
    EXPECT_THROW(analyzeSimilarRow(f.s, Value(u"1"_s), f.context()), StepFailure);
}

TEST(SimilarMatchCaption, CutsLeagueAndTeams) {
    const Table t = parseSimilarAnswer(u"1,,x,#000000,英格兰超级联赛,曼联足球俱乐部,利物浦足球俱乐部,0,2,1,|"_s);
    EXPECT_EQ(similarMatchCaption(t, 0, Value(QDateTime(QDate(2022, 5, 20), QTime(0, 0), Qt::UTC))),
              u"英格兰超 2022-05-20 曼联足球俱2-1 利物浦足球"_s);
}

// With a second Web the two extension pages load side by side, and the
// analysis is the same as one by one, its log too. The historic match and the
// list match are long finished: a later click reads every page from the
// cache with the sites down.
TEST(AnalyzeSimilarRow, ExtensionPagesSideBySideAndFinishedMatchesFromTheCache) {
    Fixture one, two;
    const SimilarRun a = analyzeSimilarRow(one.s, Value(u"1"_s), one.context());
    FakeWeb second;
    two.world.serve(second, AnalysisBase);
    QTemporaryDir dir;
    auto cache = std::make_shared<PageCache>(dir.path());
    CachingWeb web(two.web, cache), otherWeb(second, cache);
    const AnalysisState before = two.s;
    const SimilarRun b =
        analyzeSimilarRow(two.s, Value(u"1"_s), AnalysisContext{web, two.sites, two.renderer, &otherWeb, {}});
    EXPECT_EQ(one.s, two.s);
    EXPECT_EQ(a.status, b.status);
    ASSERT_EQ(a.log.entries.size(), b.log.entries.size());
    for (qsizetype i = 0; i < a.log.entries.size(); ++i)
        EXPECT_EQ(a.log.entries[i].message, b.log.entries[i].message);
    EXPECT_EQ(second.requests.size(), 1);

    FakeWeb down, downSecond;
    CachingWeb offline(down, cache), offlineSecond(downSecond, cache);
    AnalysisState again = before;
    const SimilarRun c =
        analyzeSimilarRow(again, Value(u"1"_s), AnalysisContext{offline, two.sites, two.renderer, &offlineSecond, {}});
    EXPECT_TRUE(c.ok) << c.status.toStdString();
    EXPECT_EQ(again, two.s);
    EXPECT_TRUE(down.requests.isEmpty()) << down.requests.join(u' ').toStdString();
}
