#include "model/GridFormats.h"
#include "model/MatchListGrid.h"
#include "usecases/SimilarMatches.h"

#include "support/FakeWeb.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

using namespace chenglan;
using chenglan::testing::FakeWeb;
using namespace Qt::StringLiterals;

namespace {

const QString Service = QStringLiteral("http://127.0.0.1:9/");

QByteArray gb(const QString &text) {
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

// One answer record with the fields the grid reads; every field ends in ",".
QString record(const QString &id, const QString &league, const QString &home, const QString &away,
               const QString &s23, const QString &s27, const QString &colour = QStringLiteral("#009900")) {
    QStringList f(29);
    f[0] = id;
    f[2] = QStringLiteral("2023-11-04 19:30");
    f[3] = colour;
    f[4] = league;
    f[5] = home;
    f[6] = away;
    f[7] = QStringLiteral("3");
    f[8] = QStringLiteral("2");
    f[9] = QStringLiteral("1");
    f[10] = QStringLiteral("1");
    f[11] = QStringLiteral("0");
    for (int c = 12; c <= 21; ++c)
        f[c] = QStringLiteral("p%1").arg(c);
    f[22] = QStringLiteral("半球");
    f[23] = s23;
    f[24] = QStringLiteral("0.1");
    f[27] = s27;
    f[28] = QStringLiteral("-0.125");
    return f.join(u',') + u',';
}

AnalysisState profiledState() {
    AnalysisState s;
    s.profile.strengths = ValueArray(8);
    const double values[8] = {0.35, -0.2, 0.4, -0.1, 0.5, 0, 0.45, 0.05};
    for (int i = 0; i < 8; ++i)
        s.profile.strengths.set(i, Value(values[i]));
    s.profile.code20 = Value(u"A31");
    s.profile.code10 = Value(u"D10");
    s.listMatchId = Value(2301234.0);
    return s;
}

} // namespace

TEST(QuerySimilarMatches, QueryTextCarriesProfileCodesAndMatchId) {
    AnalysisState s = profiledState();
    FakeWeb web;
    const QString query = QStringLiteral("0.35,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10,2301234");
    web.add(Service + QStringLiteral("shili/deep_jc.asp?sql=") + query, gb(record(u"1"_s, u"英超"_s, u"a"_s, u"b"_s, u"1"_s, u"1"_s) + u'|'));
    SiteBases bases;
    bases.service = Service;
    GridData grid = newSimilarListGrid();
    const SimilarQueryResult result = querySimilarMatches(s, web, bases, grid);
    EXPECT_EQ(s.similarQuery, Value(query));
    ASSERT_EQ(web.requests.size(), 1);
    EXPECT_EQ(web.methods[0], HttpRequest::Method::Post);
    EXPECT_EQ(result.outcome, SimilarQueryResult::Outcome::Records);
    EXPECT_EQ(result.records, 1);
    EXPECT_EQ(grid.rows(), 3);
}

TEST(QuerySimilarMatches, EmptyStrengthEntryGivesEmptyField) {
    AnalysisState s = profiledState();
    s.profile.strengths.set(3, Value());
    FakeWeb web;
    SiteBases bases;
    bases.service = Service;
    GridData grid = newSimilarListGrid();
    querySimilarMatches(s, web, bases, grid);
    EXPECT_EQ(s.similarQuery.text(), "0.35,-0.2,0.4,,0.5,0,0.45,0.05,A31,D10,2301234");
}

TEST(SimilarQueryUrl, EncodesOnlyWhatCouldChangeTheRequest) {
    EXPECT_EQ(similarQueryUrl(Service, u"0.35,-0.2,A31,D10,123"_s),
              Service + "shili/deep_jc.asp?sql=0.35,-0.2,A31,D10,123");
    EXPECT_EQ(similarQueryUrl(Service, u"1,A31,12&x=1#y"_s), Service + "shili/deep_jc.asp?sql=1,A31,12%26x%3D1%23y");
}

TEST(ParseSimilarAnswer, RecordsAndFieldsEndWithTheirSeparators) {
    Table two = parseSimilarAnswer(u"a,b,|c,d,e,|"_s);
    ASSERT_EQ(two.rows(), 2);
    EXPECT_EQ(two.columns(), SimilarMatchColumns);
    EXPECT_EQ(two.at(0, 0), Value(u"a"));
    EXPECT_EQ(two.at(1, 0), Value(u"b"));
    EXPECT_TRUE(two.at(2, 0).isEmpty());
    EXPECT_EQ(two.at(2, 1), Value(u"e"));

    Table lastFieldOpen = parseSimilarAnswer(u"a,b,c|"_s);
    ASSERT_EQ(lastFieldOpen.rows(), 1);
    EXPECT_EQ(lastFieldOpen.at(1, 0), Value(u"b"));
    EXPECT_TRUE(lastFieldOpen.at(2, 0).isEmpty());

    Table lastRecordOpen = parseSimilarAnswer(u"a,b,|c,d,"_s);
    ASSERT_EQ(lastRecordOpen.rows(), 1);
    EXPECT_EQ(lastRecordOpen.at(0, 0), Value(u"a"));

    // Texts are kept as received, blanks and all.
    EXPECT_EQ(parseSimilarAnswer(u" 0.50 ,x,|"_s).at(0, 0), Value(u" 0.50 "));
}

TEST(ParseSimilarAnswer, FieldsPastColumn50AreDropped) {
    QStringList fields;
    for (int i = 0; i < 60; ++i)
        fields << QString::number(i);
    Table t = parseSimilarAnswer(fields.join(u',') + u",|"_s);
    ASSERT_EQ(t.columns(), 51);
    EXPECT_EQ(t.at(50, 0), Value(u"50"));
}

TEST(ParseSimilarAnswer, NoRecordAndTooManyRecords) {
    for (const QString &answer : {u""_s, u"a,b,c,"_s, u"<html>500 Internal Server Error</html>"_s}) {
        Table t = parseSimilarAnswer(answer);
        EXPECT_TRUE(t.allocated()) << answer.toStdString();
        EXPECT_EQ(t.rows(), 0) << answer.toStdString();
    }
    bool truncated = false;
    Table many = parseSimilarAnswer(QString(MaxSimilarRecords + 500, u'|'), &truncated);
    EXPECT_TRUE(truncated);
    EXPECT_EQ(many.rows(), MaxSimilarRecords);
}

class FetchSimilarMatchesTest : public ::testing::Test {
protected:
    void SetUp() override {
        bases.service = Service;
        s.similarQuery = Value(u"q");
        url = Service + QStringLiteral("shili/deep_jc.asp?sql=q");
        // The previous query's answer, which must not survive a failed one.
        s.similarMatches = parseSimilarAnswer(u"old,x,|old2,y,|"_s);
    }
    AnalysisState s;
    SiteBases bases;
    FakeWeb web;
    QString url;
    StepLog log;
};

TEST_F(FetchSimilarMatchesTest, DecodesGb2312Answer) {
    web.add(url, gb(record(u"901"_s, u"德甲联赛"_s, u"拜仁慕尼黑"_s, u"多特蒙德"_s, u"0.5"_s, u"1"_s) + u'|'
                    + record(u"902"_s, u"意甲"_s, u"国际米兰"_s, u"尤文图斯"_s, u"0"_s, u"0"_s) + u'|'));
    const SimilarQueryResult result = fetchSimilarMatches(s, web, bases, &log);
    EXPECT_EQ(result.outcome, SimilarQueryResult::Outcome::Records);
    EXPECT_EQ(result.records, 2);
    ASSERT_EQ(s.similarMatches.rows(), 2);
    EXPECT_EQ(s.similarMatches.at(5, 0), Value(u"拜仁慕尼黑"));
    EXPECT_EQ(s.similarMatches.at(0, 1), Value(u"902"));
    EXPECT_TRUE(log.empty());
}

TEST_F(FetchSimilarMatchesTest, FailedRequestClearsThePreviousList) {
    web.fail(url, u"connection refused"_s);
    const SimilarQueryResult result = fetchSimilarMatches(s, web, bases, &log);
    EXPECT_EQ(result.outcome, SimilarQueryResult::Outcome::Failed);
    EXPECT_EQ(result.status, u"相似比赛查询失败：连不上数据服务"_s);
    EXPECT_TRUE(log.first(FailureKind::Network).contains(u"connection refused")) << "the cause in the log";
    EXPECT_TRUE(s.similarMatches.allocated());
    EXPECT_EQ(s.similarMatches.rows(), 0);
    EXPECT_TRUE(log.has(FailureKind::Network));
}

// An error status is the service failing, not an answer without records;
// its own one-line refusals are quoted in the log, an error page is not.
TEST_F(FetchSimilarMatchesTest, AnErrorStatusFailsTheQueryAndClearsThePreviousList) {
    web.add(url, "<html><body>Service Unavailable</body></html>", 503);
    const SimilarQueryResult result = fetchSimilarMatches(s, web, bases, &log);
    EXPECT_EQ(result.outcome, SimilarQueryResult::Outcome::Failed);
    EXPECT_EQ(result.status, u"相似比赛查询失败：数据服务出错"_s);
    EXPECT_EQ(log.first(FailureKind::SiteError), u"data service, similar-match query: HTTP 503"_s);
    EXPECT_EQ(s.similarMatches.rows(), 0);
    EXPECT_TRUE(log.has(FailureKind::SiteError));

    web.add(url, "bad query: 11 fields, expected 12\n", 400);
    StepLog refused;
    fetchSimilarMatches(s, web, bases, &refused);
    EXPECT_TRUE(refused.first(FailureKind::SiteError).endsWith(u"HTTP 400: bad query: 11 fields, expected 12"_s));
}

TEST_F(FetchSimilarMatchesTest, AnswerWithoutRecordClearsThePreviousList) {
    web.add(url, "<html><body>no records</body></html>");
    const SimilarQueryResult result = fetchSimilarMatches(s, web, bases, &log);
    EXPECT_EQ(result.outcome, SimilarQueryResult::Outcome::NoRecord);
    EXPECT_TRUE(result.status.contains(u"no records")) << result.status.toStdString();
    EXPECT_EQ(s.similarMatches.rows(), 0);
    EXPECT_FALSE(log.empty());

    web.add(url, "");
    EXPECT_EQ(fetchSimilarMatches(s, web, bases).outcome, SimilarQueryResult::Outcome::NoRecord);
}

TEST_F(FetchSimilarMatchesTest, CancellationEndsTheJob) {
    web.abort();
    EXPECT_THROW(fetchSimilarMatches(s, web, bases), StepFailure);
}

class FillSimilarListTest : public ::testing::Test {
protected:
    void fill(const QStringList &records) { s.similarMatches = parseSimilarAnswer(records.join(u'|') + u'|'); }
    AnalysisState s;
    GridData grid = newSimilarListGrid();
};

TEST_F(FillSimilarListTest, TwoLinesPerMatchWithColouredLeagueCell) {
    fill({record(u"1"_s, u"英格兰超级联赛"_s, u"曼彻斯特联"_s, u"利物浦足球俱"_s, u"0.5"_s, u"1"_s, u"#ff0000"_s),
          record(u"2"_s, u"英格兰超级联赛"_s, u"阿森纳"_s, u"切尔西"_s, u"-0.333"_s, u"0"_s, u"#0000FF"_s),
          record(u"3"_s, u"西甲"_s, u"皇家马德里俱"_s, u"巴塞罗那"_s, u"2"_s, u"-1.5"_s)});
    fillSimilarList(s, grid);
    ASSERT_EQ(grid.rows(), 7);
    EXPECT_EQ(grid.cell(1, 0).backColor, 255);
    EXPECT_EQ(grid.cell(3, 0).backColor, 16711680);
    EXPECT_EQ(grid.cell(5, 0).backColor, 39168);
    for (int row = 1; row <= 6; ++row) {
        const bool first = row % 2 == 1;
        EXPECT_EQ(grid.cell(row, 0).foreColor, first ? std::optional(WhiteColor) : std::nullopt) << row;
        EXPECT_EQ(grid.cell(row, 0).alignment, first ? std::optional(4) : std::nullopt) << row;
        EXPECT_FALSE(first ? false : grid.cell(row, 0).backColor.has_value()) << row;
        EXPECT_EQ(grid.row(row).heightTwips, 300) << row;
        EXPECT_EQ(grid.text(row, 12), QString::number((row - 1) / 2)) << row;
    }
    EXPECT_EQ(grid.mergeMode(), 2);
    EXPECT_TRUE(grid.mergeColumn(0));

    // First line: league cut to 4, date, home cut to 4 with field 7, handicap, strengths.
    EXPECT_EQ(grid.text(1, 0), "英格兰超");
    EXPECT_EQ(grid.text(1, 1), "2023-11-04");
    EXPECT_EQ(grid.text(1, 2), "曼彻斯特(3)");
    EXPECT_EQ(grid.text(1, 3), "半球");
    EXPECT_EQ(grid.text(1, 4), "0.50");
    EXPECT_EQ(grid.text(1, 5), "1.00");
    EXPECT_EQ(grid.text(1, 6), "p12");
    EXPECT_EQ(grid.text(1, 10), "p20");
    EXPECT_EQ(grid.text(1, 11), "");
    // Second line: time, away cut to 5, score with the second pair.
    EXPECT_EQ(grid.text(2, 0), "英格兰超");
    EXPECT_EQ(grid.text(2, 1), "19:30");
    EXPECT_EQ(grid.text(2, 2), "利物浦足球");
    EXPECT_EQ(grid.text(2, 3), "2-1 (1-0)");
    EXPECT_EQ(grid.text(2, 4), "0.10");
    EXPECT_EQ(grid.text(2, 5), "-0.12");
    EXPECT_EQ(grid.text(2, 6), "p13");
    EXPECT_EQ(grid.text(2, 10), "p21");
    EXPECT_EQ(grid.text(3, 4), "-0.33");
    EXPECT_EQ(grid.text(5, 2), "皇家马德(3)");
    EXPECT_EQ(grid.text(5, 0), "西甲");
}

TEST_F(FillSimilarListTest, SecondCallReplacesAllLines) {
    fill({record(u"1"_s, u"a"_s, u"b"_s, u"c"_s, u"1"_s, u"1"_s), record(u"2"_s, u"a"_s, u"b"_s, u"c"_s, u"1"_s, u"1"_s)});
    fillSimilarList(s, grid);
    fill({record(u"9"_s, u"z"_s, u"y"_s, u"x"_s, u"1"_s, u"1"_s)});
    fillSimilarList(s, grid);
    ASSERT_EQ(grid.rows(), 3);
    EXPECT_EQ(grid.text(1, 0), "z");
    EXPECT_EQ(grid.text(2, 12), "0");

    s.similarMatches = Table(SimilarMatchColumns, 0);
    fillSimilarList(s, grid);
    EXPECT_EQ(grid.rows(), 1);
    EXPECT_EQ(grid.text(0, 0), "联赛 ");
}

TEST_F(FillSimilarListTest, UnreadableFieldsKeepTheLineUsable) {
    fill({record(u"1"_s, u"a"_s, u"b\tb"_s, u"c"_s, u"n/a"_s, u""_s, u"#GG0000"_s)});
    StepLog log;
    fillSimilarList(s, grid, &log);
    ASSERT_EQ(grid.rows(), 3);
    // A bad colour leaves the default background; the text is still white.
    EXPECT_FALSE(grid.cell(1, 0).backColor.has_value());
    EXPECT_EQ(grid.cell(1, 0).foreColor, WhiteColor);
    EXPECT_FALSE(log.empty());
    // A tab inside a name must not shift the row number out of column 12.
    EXPECT_EQ(grid.text(1, 2), "b b(3)");
    EXPECT_EQ(grid.text(1, 12), "0");
    EXPECT_EQ(grid.text(1, 4), "n/a");
    EXPECT_EQ(grid.text(1, 5), "");
}

TEST_F(FillSimilarListTest, NeverFilledListsNothing) {
    fillSimilarList(s, grid);
    EXPECT_EQ(grid.rows(), 1);
}

namespace {

// An answer record with the result and distance fields the summary reads.
QString resultRecord(const QString &home, const QString &away, const QString &result, const QString &distance) {
    QStringList f(35);
    f[0] = QStringLiteral("1900001");
    f[8] = home;
    f[9] = away;
    f[14] = result;
    f[33] = distance;
    return f.join(u',') + u",|"_s;
}

AnalysisState withAnswer(const QString &answer) {
    AnalysisState s;
    s.similarMatches = parseSimilarAnswer(answer);
    return s;
}

} // namespace

TEST(SummarizeSimilarSet, CountsHomeResultsAndAveragesTheDistance) {
    const AnalysisState s = withAnswer(resultRecord(u"2"_s, u"1"_s, u"胜"_s, u"0.5000"_s) +
                                       resultRecord(u"1"_s, u"1"_s, u"平"_s, u"1.0000"_s) +
                                       resultRecord(u"0"_s, u"3"_s, u"负"_s, u"0.7500"_s) +
                                       resultRecord(u"4"_s, u"0"_s, u"胜"_s, u"1.2500"_s));
    const SimilarSetSummary summary = summarizeSimilarSet(s);
    EXPECT_EQ(summary, (SimilarSetSummary{4, 2, 1, 1, 0, 0.875}));
    EXPECT_EQ(summary.text(), u"相似 4 场：主胜 2 平 1 负 1，平均距离 0.88"_s);
}

TEST(SummarizeSimilarSet, GoalsStandInForAMissingResultAndUnreadableRowsAreNamed) {
    // Results from the score when field 14 holds no result word; a row with
    // neither is counted as a match but not as a result; a row without a
    // distance does not pull the mean down.
    const AnalysisState s = withAnswer(resultRecord(u"3"_s, u"1"_s, {}, u"0.2000"_s) +
                                       resultRecord(u"0"_s, u"0"_s, {}, {}) +
                                       resultRecord(u"1"_s, u"2"_s, {}, u"0.4000"_s) +
                                       resultRecord({}, {}, {}, u"x"_s) +
                                       resultRecord(u"2"_s, u"0"_s, u"?"_s, {}));
    const SimilarSetSummary summary = summarizeSimilarSet(s);
    EXPECT_EQ(summary.matches, 5);
    EXPECT_EQ(summary.wins, 2);
    EXPECT_EQ(summary.draws, 1);
    EXPECT_EQ(summary.losses, 1);
    EXPECT_EQ(summary.unknown, 1);
    ASSERT_TRUE(summary.meanDistance);
    EXPECT_NEAR(*summary.meanDistance, 0.3, 1e-12);
    EXPECT_EQ(summary.text(), u"相似 5 场：主胜 2 平 1 负 1（1 场无赛果），平均距离 0.30"_s);
}

TEST(SummarizeSimilarSet, HugeDistancesKeepAFiniteMean) {
    // Summed, two distances near the largest double overflowed to "inf".
    const SimilarSetSummary summary = summarizeSimilarSet(
        withAnswer(resultRecord(u"1"_s, u"0"_s, u"胜"_s, u"1.6e308"_s) + resultRecord(u"0"_s, u"0"_s, u"平"_s, u"1.2e308"_s)));
    ASSERT_TRUE(summary.meanDistance);
    EXPECT_DOUBLE_EQ(*summary.meanDistance, 1.4e308);
    EXPECT_FALSE(summary.text().contains(u"inf"_s));
}

TEST(SummarizeSimilarSet, NoRecordSaysNothing) {
    // An answer without distances (an older service) still gives the results.
    EXPECT_EQ(summarizeSimilarSet(withAnswer(resultRecord(u"1"_s, u"0"_s, u"胜"_s, {}))).text(),
              u"相似 1 场：主胜 1 平 0 负 0"_s);
    EXPECT_EQ(summarizeSimilarSet(withAnswer(QString())), SimilarSetSummary{});
    EXPECT_EQ(summarizeSimilarSet(AnalysisState{}), SimilarSetSummary{});
    EXPECT_TRUE(SimilarSetSummary{}.text().isEmpty());
}
