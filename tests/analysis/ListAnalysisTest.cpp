#include "usecases/ListAnalysis.h"
#include "model/StrengthModel.h"

#include "net/PageCache.h"
#include "sites/PageFinality.h"
#include "support/AnalysisPages.h"

#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace chenglan;
using namespace chenglan::testing;
using namespace Qt::StringLiterals;

namespace {

const QString Base = u"http://analysis.test/"_s;

SiteBases bases() {
    SiteBases b;
    b.analysis = Base;
    return b;
}

// A schedule of two rows; row 1 is the analysed match.
ScheduleState schedule(int matchId = 100) {
    ScheduleState sc;
    sc.matchTable = Table(21, 2);
    sc.matchTable.set(0, 0, Value(1.0));
    sc.matchTable.set(0, 1, Value(double(matchId)));
    sc.matchTable.set(2, 1, Value(u"英格兰超级联赛"_s));
    sc.matchTable.set(5, 1, Value(u"曼联足球俱乐部"_s));
    sc.matchTable.set(6, 1, Value(u"2-1"_s));
    sc.matchTable.set(7, 1, Value(u"利物浦足球俱乐部"_s));
    sc.matchRowFlags = ValueArray(2);
    return sc;
}

struct Fixture {
    TwoTeamWorld world;
    FakeWeb web;
    FakeWeb second;
    SiteBases sites = bases();
    PageRenderer renderer;

    Fixture() {
        world.serve(web, Base);
        world.serve(second, Base);
    }
    AnalysisContext context(bool sideBySide) {
        return AnalysisContext{web, sites, renderer, sideBySide ? &second : nullptr, {}};
    }
};

} // namespace

TEST(AnalyzeListRow, RunsTheWholeAnalysis) {
    Fixture f;
    AnalysisState s;
    QStringList steps;
    AnalysisContext context = f.context(false);
    context.progress = [&](AnalysisStep step) { steps << stepLabel(step); };
    const AnalysisRun run = analyzeListRow(s, schedule(), Value(u"1"_s), context);

    EXPECT_TRUE(run.ok) << run.status.toStdString();
    EXPECT_EQ(run.status, u"分析完成"_s);
    EXPECT_EQ(steps, (QStringList{u"loadAnalysisPage"_s, u"info"_s, u"parseTeamHistories"_s, u"loadAnalysisPage home"_s,
                                  u"extendHomeHistory"_s, u"loadAnalysisPage away"_s, u"extendAwayHistory"_s,
                                  u"computeStrengthTrends"_s, u"patternCodes"_s, u"caption"_s}));
    EXPECT_EQ(run.steps.size(), steps.size());
    EXPECT_EQ(f.web.requests, (QStringList{TwoTeamWorld::pageUrl(Base, 100), TwoTeamWorld::pageUrl(Base, 1029),
                                           TwoTeamWorld::pageUrl(Base, 2029)}));

    EXPECT_EQ(s.listRowKey, Value(u"1"_s));
    EXPECT_EQ(s.listMatchId, Value(100.0));
    EXPECT_EQ(s.homeTeamId, Value(11.0));
    EXPECT_EQ(s.awayTeamId, Value(22.0));
    EXPECT_EQ(s.homeTeamName, Value(u"曼联"_s));
    EXPECT_EQ(s.awayTeamName, Value(u"利物浦"_s));
    EXPECT_EQ(s.listMatchTime, Value(f.world.kickOff));
    EXPECT_EQ(s.matchDate, s.listMatchTime);
    EXPECT_EQ(s.analysisMode, AnalysisMode::ListMatch);

    // The extension pages continue both histories: 30 + 30 rows each.
    ASSERT_EQ(s.homeHistory.rows(), 60);
    ASSERT_EQ(s.awayHistory.rows(), 60);
    for (int k = 0; k < 60; ++k) {
        EXPECT_EQ(s.homeHistory.at(15, k), Value(QString::number(1000 + k))) << k;
        EXPECT_EQ(s.awayHistory.at(15, k), Value(QString::number(2000 + k))) << k;
    }
    // After the run the state points at the away extension page.
    EXPECT_EQ(s.currentMatchId, Value(u"2029"_s));
    EXPECT_EQ(s.sideIndex.number(), 1);
    EXPECT_TRUE(s.analysisData.at(1).text().startsWith(f.world.awayMatch(30).date));

    EXPECT_GT(s.trendSeries.rows(), 7);
    for (int e = 0; e < 8; ++e) {
        const double v = s.profile.strengths.at(e).number();
        EXPECT_TRUE(s.profile.strengths.at(e).isNumber()) << e;
        EXPECT_EQ(v, std::round(v * 100) / 100) << e; // rounded by patternCodes
    }
    EXPECT_EQ(s.profile.code20.text().size(), 3);
    EXPECT_EQ(s.profile.code10.text().size(), 3);

    EXPECT_TRUE(s.listMatchCaption.text().startsWith(u"英格兰超 2022-05-20 19:30 "_s));
    EXPECT_TRUE(s.listMatchCaption.text().endsWith(u"曼联足球俱2-1 利物浦足球"_s));
    EXPECT_EQ(s.chartCaption, s.listMatchCaption);
}

TEST(AnalyzeListRow, ExtensionPagesSideBySideGiveTheSameState) {
    Fixture f;
    AnalysisState one, two;
    const AnalysisRun a = analyzeListRow(one, schedule(), Value(u"1"_s), f.context(false));
    const AnalysisRun b = analyzeListRow(two, schedule(), Value(u"1"_s), f.context(true));
    EXPECT_EQ(one, two);
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(f.second.requests, QStringList{TwoTeamWorld::pageUrl(Base, 2029)});
    EXPECT_EQ(f.web.requests.size(), 3 + 2);
}

TEST(AnalyzeListRow, AwayExtensionStopsAtAnOverlongRecord) {
    // Match 35 of each team is listed with 37 fields: the home extension drops
    // the fields beyond column 30 and goes on, the away extension ends there.
    Fixture f;
    f.world.longRecord = 35;
    FakeWeb web, second;
    f.world.serve(web, Base);
    f.world.serve(second, Base);
    AnalysisState one, two;
    const AnalysisRun run = analyzeListRow(one, schedule(), Value(u"1"_s), AnalysisContext{web, f.sites, f.renderer});
    analyzeListRow(two, schedule(), Value(u"1"_s), AnalysisContext{web, f.sites, f.renderer, &second});
    EXPECT_EQ(one, two);
    ASSERT_EQ(one.homeHistory.rows(), 60);
    ASSERT_EQ(one.awayHistory.rows(), 60);
    EXPECT_EQ(one.homeHistory.at(15, 59), Value(u"1059"_s));
    EXPECT_EQ(one.awayHistory.at(15, 35), Value(u"2035"_s));
    EXPECT_TRUE(one.awayHistory.at(0, 36).isEmpty());
    EXPECT_TRUE(one.awayHistory.at(15, 59).isEmpty());
    EXPECT_TRUE(run.hasTrend);
}

TEST(AnalyzeListRow, NothingOfThePreviousMatchSurvivesAFailedPage) {
    Fixture f;
    AnalysisState s;
    analyzeListRow(s, schedule(), Value(u"1"_s), f.context(true));
    ASSERT_GT(s.trendSeries.rows(), 0);

    f.web.fail(TwoTeamWorld::pageUrl(Base, 555), u"connection reset"_s);
    const AnalysisRun run = analyzeListRow(s, schedule(555), Value(u"1"_s), f.context(true));
    EXPECT_FALSE(run.ok);
    EXPECT_TRUE(run.status.contains(u"读取失败"_s)) << run.status.toStdString();
    EXPECT_EQ(s.listMatchId, Value(555.0));
    EXPECT_TRUE(s.homeTeamId.isEmpty());
    EXPECT_TRUE(s.homeTeamName.isEmpty());
    EXPECT_TRUE(s.matchDate.isEmpty());
    EXPECT_EQ(s.homeHistory.rows(), 0);
    EXPECT_EQ(s.trendSeries.rows(), 0);
    EXPECT_EQ(s.profile.code20, Value(u"B11"_s));
    EXPECT_EQ(s.profile.strengths.at(0), Value(0.0));
    EXPECT_TRUE(s.handicapSummary.allocated());
    // No extension page is asked for a history without rows.
    EXPECT_EQ(f.web.requests.last(), TwoTeamWorld::pageUrl(Base, 555));
}

TEST(AnalyzeListRow, ShortHistoriesSaySoInsteadOfShowingATrend) {
    Fixture f;
    f.world.listed = 8; // 8 + 8 rows per team
    FakeWeb web;
    f.world.serve(web, Base);
    AnalysisState s;
    const AnalysisRun run = analyzeListRow(s, schedule(), Value(u"1"_s), AnalysisContext{web, f.sites, f.renderer});
    EXPECT_EQ(s.homeHistory.rows(), 16);
    EXPECT_FALSE(run.hasTrend);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.status, trendShortfall(s));
    EXPECT_TRUE(run.status.contains(u"两队"_s));
    EXPECT_EQ(s.profile.code10, Value(u"D11"_s));
}

TEST(AnalyzeMatchId, PageWithoutMatchDataSaysSo) {
    Fixture f;
    addGbPage(f.web, TwoTeamWorld::pageUrl(Base, 4242), u"<html><body><h1>比赛不存在</h1></body></html>"_s);
    AnalysisState s;
    const AnalysisRun run = analyzeMatchId(s, Value(u"4242"_s), f.context(true));
    EXPECT_FALSE(run.pageRead);
    EXPECT_TRUE(run.status.contains(u"没有比赛数据"_s)) << run.status.toStdString();
    EXPECT_TRUE(run.status.contains(u"页面格式变了"_s)) << run.status.toStdString();
    bool markerLogged = false;
    for (const StepLog::Entry &e : run.log.entries)
        markerLogged = markerLogged || e.message.contains(u"marker \"function show_info(URL)\""_s);
    EXPECT_TRUE(markerLogged) << "the missing marker in the log";
    EXPECT_EQ(s.analysisData, ValueArray(4));
    EXPECT_EQ(f.web.requests.size(), 1);
}

TEST(AnalyzeListRow, UnknownRowRunsOnEmptyInputs) {
    Fixture f;
    AnalysisState s;
    s.listMatchCaption = Value(u"previous"_s);
    const AnalysisRun run = analyzeListRow(s, schedule(), Value(u"9"_s), f.context(false));
    EXPECT_TRUE(s.listMatchId.isEmpty());
    EXPECT_EQ(f.web.requests.first(), Base + u"analysis/cn.htm"_s);
    EXPECT_TRUE(s.listMatchCaption.isEmpty());
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.status, u"赛程中没有第9行"_s);
}

TEST(AnalyzeMatchId, LeavesTheListCaptionsEmpty) {
    Fixture f;
    AnalysisState viaList, viaId;
    analyzeListRow(viaList, schedule(), Value(u"1"_s), f.context(false));
    const AnalysisRun run = analyzeMatchId(viaId, Value(u"100"_s), f.context(true));
    EXPECT_TRUE(run.ok);
    EXPECT_TRUE(viaId.listRowKey.isEmpty());
    EXPECT_TRUE(viaId.listMatchCaption.isEmpty());
    EXPECT_EQ(viaId.listMatchId, Value(u"100"_s));
    EXPECT_EQ(viaId.trendSeries, viaList.trendSeries);
    EXPECT_EQ(viaId.profile.strengths, viaList.profile.strengths);
    EXPECT_EQ(viaId.profile.code20, viaList.profile.code20);
}

// The pages of a listed match finished days ago come from the page cache
// when the site is down, and give the same analysis; the page of a match not
// yet played is asked of the site every time, its extension pages are not.
TEST(AnalyzeListRow, PagesThatCannotChangeComeFromTheCacheWithTheSiteDown) {
    Fixture f;
    QTemporaryDir dir;
    auto cache = std::make_shared<PageCache>(dir.path());
    ScheduleState played = schedule();
    const QDateTime tenDaysAgo =
        QDateTime::currentDateTimeUtc().addDays(-10).toTimeZone(QTimeZone(kSiteUtcOffsetSeconds));
    played.matchTable.set(3, 1, Value(tenDaysAgo.toString(u"MM-dd HH:mm"_s)));
    ScheduleState unplayed = played;
    unplayed.matchTable.set(6, 1, Value(u"vs"_s));

    AnalysisState first;
    CachingWeb web(f.web, cache), second(f.second, cache);
    ASSERT_TRUE(analyzeListRow(first, played, Value(u"1"_s), AnalysisContext{web, f.sites, f.renderer, &second}).ok);

    FakeWeb down, downSecond;
    CachingWeb offline(down, cache), offlineSecond(downSecond, cache);
    const AnalysisContext offlineContext{offline, f.sites, f.renderer, &offlineSecond};
    AnalysisState again;
    const AnalysisRun run = analyzeListRow(again, played, Value(u"1"_s), offlineContext);
    EXPECT_TRUE(run.ok) << run.status.toStdString();
    EXPECT_EQ(again, first);
    EXPECT_TRUE(down.requests.isEmpty() && downSecond.requests.isEmpty());

    // Only the match's own page is served now: the extension pages must come
    // from the cache.
    FakeWeb ownPageOnly;
    addGbPage(ownPageOnly, TwoTeamWorld::pageUrl(Base, f.world.analysedId), analysisPageHtml(f.world.analysedPage()));
    CachingWeb partly(ownPageOnly, cache);
    AnalysisState notYet;
    EXPECT_TRUE(
        analyzeListRow(notYet, unplayed, Value(u"1"_s), AnalysisContext{partly, f.sites, f.renderer, &offlineSecond})
            .ok);
    EXPECT_EQ(ownPageOnly.requests, QStringList{TwoTeamWorld::pageUrl(Base, f.world.analysedId)});
    EXPECT_TRUE(downSecond.requests.isEmpty());
    EXPECT_EQ(notYet.trendSeries, first.trendSeries);
}
