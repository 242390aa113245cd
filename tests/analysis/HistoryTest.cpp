#include "sites/HistoryExtension.h"
#include "sites/HistoryParsing.h"

#include <gtest/gtest.h>

using namespace chenglan;

namespace {

// A history record of `count` fields: field i is "f<i>" unless given.
QString record(const QMap<int, QString> &given, int count = 17) {
    QStringList fields;
    for (int i = 0; i < count; ++i)
        fields << given.value(i, QStringLiteral("f%1").arg(i));
    return fields.join(u',');
}

// A match of home team `home` against `away` ending hg:ag, with match id `id`.
QString match(int home, int away, int hg, int ag, int id, int count = 17) {
    return record({{0, QStringLiteral("2022-05-01")},
                   {4, QString::number(home)},
                   {6, QString::number(away)},
                   {8, QString::number(hg)},
                   {9, QString::number(ag)},
                   {15, QString::number(id)}},
                  count);
}

QString list(const QStringList &records) {
    QString out;
    for (const QString &r : records)
        out += r + u'|';
    return out;
}

AnalysisState withLists(const QString &home, const QString &away, double homeId = 11, double awayId = 22) {
    AnalysisState s;
    s.analysisData = ValueArray(4);
    s.analysisData.set(0, Value(home));
    s.analysisData.set(1, Value(away));
    s.homeTeamId = Value(homeId);
    s.awayTeamId = Value(awayId);
    return s;
}

QStringList matches(int count, int firstId = 1000) {
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << match(11, 30 + i, i % 4, 1, firstId + i);
    return out;
}

} // namespace

TEST(ResultScore, Table) {
    const struct {
        double own, conceded, score;
    } cases[] = {
        {0, 0, 0},     {1, 1, 0.25},   {3, 3, 0.25},  {1, 0, 0.5},    {2, 1, 0.75},   {2, 0, 1},
        {3, 1, 1.25},  {3, 0, 1.5},    {4, 1, 1.75},  {4, 0, 2},      {5, 1, 2.25},   {5, 0, 2.25},
        {9, 2, 2.25},  {0, 1, -0.5},   {1, 2, -0.75}, {0, 2, -1},     {1, 3, -1.25},  {0, 3, -1.5},
        {2, 5, -1.75}, {0, 4, -2},     {0, 7, -2.25}, {1, 6, -2.25},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ResultScore(Value(c.own), Value(c.conceded)), Value(c.score)) << c.own << ":" << c.conceded;
}

TEST(ResultScore, TextsEmptiesAndFractions) {
    EXPECT_EQ(ResultScore(Value(u" 2"), Value(u"1")), Value(0.75));
    EXPECT_EQ(ResultScore(Value(u"1 0"), Value(u"x")), Value(2.25)); // "1 0" reads as 10
    EXPECT_EQ(ResultScore(Value(), Value()), Value(0.0));
    EXPECT_EQ(ResultScore(Value(u"1.5"), Value(u"1")), Value());
    EXPECT_EQ(ResultScore(Value(u"6.5"), Value(u"1")), Value(2.25));
}

TEST(ParseTeamHistories, DerivesGoalsScoreAndSameSide) {
    const QString r = match(11, 22, 2, 1, 555);
    AnalysisState s = withLists(list({r}), list({r}));
    parseTeamHistories(s);
    ASSERT_EQ(s.homeHistory.rows(), 1);
    EXPECT_EQ(s.homeHistory.columns(), 31);
    EXPECT_EQ(s.homeHistory.at(17, 0), Value(2.0));
    EXPECT_EQ(s.homeHistory.at(18, 0), Value(1.0));
    EXPECT_EQ(s.homeHistory.at(28, 0).number(), 2);
    EXPECT_EQ(s.homeHistory.at(21, 0), Value(0.75));
    EXPECT_EQ(s.homeHistory.at(15, 0), Value(u"555"));
    EXPECT_EQ(s.homeHistory.at(0, 0), Value(u"2022-05-01"));
    EXPECT_EQ(s.awayHistory.at(17, 0), Value(1.0));
    EXPECT_EQ(s.awayHistory.at(18, 0), Value(2.0));
    EXPECT_EQ(s.awayHistory.at(28, 0).number(), 2);
    EXPECT_EQ(s.awayHistory.at(21, 0), Value(-0.75));

    // The home team played that match away: goals swapped, no same-side mark.
    s = withLists(list({r}), QString(), 22);
    parseTeamHistories(s);
    EXPECT_EQ(s.homeHistory.at(17, 0), Value(1.0));
    EXPECT_EQ(s.homeHistory.at(18, 0), Value(2.0));
    EXPECT_TRUE(s.homeHistory.at(28, 0).isEmpty());
}

TEST(ParseTeamHistories, NamesARecordShorterThanTheParserReadsOncePerList) {
    AnalysisState s = withLists(list({match(11, 22, 2, 1, 1), match(11, 22, 2, 1, 2, 10), match(11, 22, 2, 1, 3, 9)}),
                                list({match(11, 22, 2, 1, 4)}));
    s.currentMatchId = Value(u"100");
    StepLog log;
    parseTeamHistories(s, &log);
    QStringList layout;
    for (const auto &e : log.entries)
        if (e.kind == FailureKind::Layout)
            layout << e.message;
    ASSERT_EQ(layout.size(), 1) << layout.join(u'\n').toStdString();
    EXPECT_EQ(layout.first(),
              u"analysis site, analysis page of match 100: home history record 2 has 10 fields, the parser reads 17"_qs);
    EXPECT_EQ(s.homeHistory.rows(), 3);
}

TEST(ParseTeamHistories, KeepsAtMostThirtyRecords) {
    AnalysisState s = withLists(list(matches(45)), list(matches(3)));
    parseTeamHistories(s);
    EXPECT_EQ(s.homeHistory.rows(), 30);
    EXPECT_EQ(s.homeHistory.at(15, 29), Value(u"1029"));
    EXPECT_EQ(s.awayHistory.rows(), 3);

    s = withLists(QString(), QStringLiteral("no separator at all"));
    parseTeamHistories(s);
    EXPECT_TRUE(s.homeHistory.allocated());
    EXPECT_EQ(s.homeHistory.rows(), 0);
    EXPECT_EQ(s.awayHistory.rows(), 0);
}

TEST(ParseTeamHistories, StoresOnlyFieldsUpToSixteen) {
    AnalysisState s = withLists(list({match(11, 22, 0, 0, 1, 30)}), QString());
    parseTeamHistories(s);
    for (int c = 0; c <= 16; ++c)
        EXPECT_FALSE(s.homeHistory.at(c, 0).isEmpty()) << c;
    for (int c : {19, 20, 22, 23, 24, 25, 26, 27, 29, 30})
        EXPECT_TRUE(s.homeHistory.at(c, 0).isEmpty()) << c;
}

TEST(ParseTeamHistories, MalformedRecordsLeaveTheirCellsEmpty) {
    const QString shortRecord = QStringLiteral("2022-05-01,a,b,c,11,d,22,e,3");  // no field 9 onwards
    const QString stranger = match(77, 88, 3, 0, 9);                            // neither team
    AnalysisState s = withLists(list({shortRecord, stranger, QString()}), QString());
    StepLog log;
    parseTeamHistories(s, &log);
    ASSERT_EQ(s.homeHistory.rows(), 3);
    EXPECT_EQ(s.homeHistory.at(17, 0), Value(3.0));
    EXPECT_TRUE(s.homeHistory.at(18, 0).isEmpty());
    EXPECT_TRUE(s.homeHistory.at(9, 0).isEmpty());
    EXPECT_EQ(s.homeHistory.at(21, 0), Value(1.5)); // 3 against an empty cell
    for (int c : {17, 18, 28})
        EXPECT_TRUE(s.homeHistory.at(c, 1).isEmpty()) << c;
    EXPECT_EQ(s.homeHistory.at(21, 1), Value(0.0));
    EXPECT_TRUE(s.homeHistory.at(0, 2).isEmpty()); // an empty record has no field at all
    EXPECT_FALSE(log.empty());
}

TEST(ParseTeamHistories, RebuildsTheTablesAndIgnoresTheThirdList) {
    AnalysisState s = withLists(list(matches(5)), list(matches(5)));
    s.analysisData.set(2, Value(list(matches(9))));
    parseTeamHistories(s);
    const AnalysisState first = s;
    s.analysisData.set(2, Value(u"anything|else|"));
    parseTeamHistories(s);
    EXPECT_EQ(s.homeHistory, first.homeHistory);

    AnalysisState unread;
    unread.homeHistory = Table(31, 3);
    parseTeamHistories(unread);
    EXPECT_EQ(unread.homeHistory, Table(31, 0));
}

namespace {

AnalysisState parsed(int homeRows, int awayRows) {
    AnalysisState s = withLists(list(matches(homeRows)), list(matches(awayRows, 5000)));
    parseTeamHistories(s);
    return s;
}

void loadPage(AnalysisState &s, const QString &homeSide, const QString &awaySide, int side) {
    s.analysisData = ValueArray(4);
    s.analysisData.set(0, Value(homeSide));
    s.analysisData.set(1, Value(awaySide));
    s.sideIndex = Value::fromInt16(std::int16_t(side));
}

} // namespace

TEST(ExtendHomeHistory, AppendsUpToThirtyOlderRows) {
    AnalysisState s = parsed(30, 30);
    const Table before = s.homeHistory;
    loadPage(s, list(matches(45, 2000)), QString(), 0);
    extendHomeHistory(s);
    ASSERT_EQ(s.homeHistory.rows(), 60);
    for (int r = 0; r < 30; ++r)
        for (int c = 0; c < 31; ++c)
            ASSERT_EQ(s.homeHistory.at(c, r), before.at(c, r));
    EXPECT_EQ(s.homeHistory.at(15, 30), Value(u"2000"));
    EXPECT_EQ(s.homeHistory.at(15, 59), Value(u"2029"));
    EXPECT_EQ(s.homeHistory.at(28, 59).number(), 2);

    loadPage(s, list(matches(5, 3000)), QString(), 0);
    extendHomeHistory(s);
    EXPECT_EQ(s.homeHistory.rows(), 65);

    loadPage(s, QString(), QString(), 0);
    const Table full = s.homeHistory;
    extendHomeHistory(s);
    EXPECT_EQ(s.homeHistory, full);
    s.analysisData = ValueArray(4); // a page that could not be read
    extendHomeHistory(s);
    EXPECT_EQ(s.homeHistory, full);
}

TEST(ExtendHomeHistory, CopiesEveryFieldAndTakesTheListOfSideIndex) {
    AnalysisState s = parsed(2, 2);
    // The home team (11) played its oldest listed match away, so its history
    // is the page's away-side list; it marks only its home matches.
    const QString atHome = match(11, 40, 1, 1, 7001, 31);
    const QString away = match(41, 11, 0, 2, 7002, 29);
    loadPage(s, list({match(99, 98, 1, 0, 1)}), list({atHome, away}), 1);
    extendHomeHistory(s);
    ASSERT_EQ(s.homeHistory.rows(), 4);
    EXPECT_EQ(s.homeHistory.at(15, 2), Value(u"7001"));
    EXPECT_EQ(s.homeHistory.at(30, 2), Value(u"f30"));
    EXPECT_EQ(s.homeHistory.at(19, 2), Value(u"f19"));
    EXPECT_EQ(s.homeHistory.at(28, 2).number(), 2);
    EXPECT_EQ(s.homeHistory.at(21, 2), Value(0.25));
    EXPECT_EQ(s.homeHistory.at(17, 3), Value(2.0));
    EXPECT_EQ(s.homeHistory.at(18, 3), Value(0.0));
    EXPECT_EQ(s.homeHistory.at(28, 3), Value(u"f28")); // the record's own field stays
    EXPECT_EQ(s.homeHistory.at(21, 3), Value(1.0));
}

TEST(ExtendHomeHistory, DropsFieldsBeyondColumnThirtyAndGoesOn) {
    AnalysisState s = parsed(2, 2);
    loadPage(s, list({match(11, 40, 3, 1, 7001, 33), match(11, 41, 0, 0, 7002)}), QString(), 0);
    StepLog log;
    extendHomeHistory(s, &log);
    ASSERT_EQ(s.homeHistory.rows(), 4);
    EXPECT_EQ(s.homeHistory.at(30, 2), Value(u"f30"));
    EXPECT_EQ(s.homeHistory.at(21, 2), Value(1.25));
    EXPECT_EQ(s.homeHistory.at(15, 3), Value(u"7002"));
    EXPECT_EQ(log.entries.size(), 2);
}

TEST(ExtendAwayHistory, StopsAtTheFirstFailure) {
    AnalysisState s = parsed(2, 2);
    const QString ok = match(40, 22, 1, 2, 8001);
    const QString tooLong = match(41, 22, 0, 1, 8002, 33);
    loadPage(s, QString(), list({ok, tooLong, match(42, 22, 0, 0, 8003)}), 1);
    StepLog log;
    extendAwayHistory(s, &log);
    ASSERT_EQ(s.awayHistory.rows(), 5); // grown for all three records
    EXPECT_EQ(s.awayHistory.at(21, 2), Value(0.75));
    EXPECT_EQ(s.awayHistory.at(28, 2).number(), 2);
    // The long record was copied up to column 30, then the extension ended:
    // nothing derived for it, nothing of the next record.
    EXPECT_EQ(s.awayHistory.at(30, 3), Value(u"f30"));
    EXPECT_EQ(s.awayHistory.at(17, 3), Value(u"f17"));
    EXPECT_EQ(s.awayHistory.at(21, 3), Value(u"f21"));
    for (int c = 0; c < 31; ++c)
        EXPECT_TRUE(s.awayHistory.at(c, 4).isEmpty()) << c;
    ASSERT_EQ(log.entries.size(), 1);
    EXPECT_TRUE(log.entries[0].message.startsWith(QStringLiteral("extendAwayHistory stopped")));
}

TEST(ExtendAwayHistory, MarksOnlyAwayMatchesOfTheAwayTeam) {
    AnalysisState s = parsed(2, 2);
    loadPage(s, list({match(22, 50, 2, 2, 8101, 29), match(51, 22, 3, 1, 8102)}), QString(), 0);
    extendAwayHistory(s);
    ASSERT_EQ(s.awayHistory.rows(), 4);
    EXPECT_EQ(s.awayHistory.at(28, 2), Value(u"f28"));
    EXPECT_EQ(s.awayHistory.at(21, 2), Value(0.25));
    EXPECT_EQ(s.awayHistory.at(28, 3).number(), 2);
    EXPECT_EQ(s.awayHistory.at(17, 3), Value(1.0));
    EXPECT_EQ(s.awayHistory.at(21, 3), Value(-1.25));
}

TEST(ExtendAwayHistory, ShortRecordEndsItToo) {
    AnalysisState s = parsed(1, 1);
    loadPage(s, list({QStringLiteral("2022-01-01,a,b,c,40"), match(40, 22, 1, 0, 3)}), QString(), 0);
    StepLog log;
    extendAwayHistory(s, &log);
    EXPECT_EQ(s.awayHistory.rows(), 3);
    EXPECT_EQ(s.awayHistory.at(4, 1), Value(u"40"));
    EXPECT_TRUE(s.awayHistory.at(0, 2).isEmpty());
    EXPECT_EQ(log.entries.size(), 1);
}
