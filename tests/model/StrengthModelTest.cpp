#include "model/Regression.h"
#include "model/StrengthModel.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace chenglan;

namespace {

QDateTime day(int month, int dayOfMonth) { return QDateTime(QDate(2022, month, dayOfMonth), QTime(0, 0), Qt::UTC); }

// A history of `rows` matches, one every `spacing` days before `newest`,
// with the given result scores in column 21.
Table historyTable(int rows, const QDateTime &newest, int spacing, const std::function<double(int)> &score) {
    Table t(31, rows);
    for (int r = 0; r < rows; ++r) {
        t.set(0, r, Value(newest.addDays(-qint64(spacing) * r).toString(QStringLiteral("yyyy-MM-dd"))));
        t.set(21, r, Value(score(r)));
    }
    return t;
}

double scoreA(int r) { return std::fmod(r * 0.75, 2.25) - 1.0; }
double scoreB(int r) { return std::fmod(r * 1.25, 2.0) - 0.5; }

AnalysisState stateWith(Table home, Table away, const QDateTime &matchDate) {
    AnalysisState s;
    s.homeHistory = std::move(home);
    s.awayHistory = std::move(away);
    s.matchDate = Value(matchDate);
    s.analysisMode = AnalysisMode::ListMatch;
    s.profile.strengths = ValueArray(8);
    return s;
}

} // namespace

TEST(WindowAverage, SkipsEmptyCells) {
    Table t(31, 10);
    t.set(21, 0, Value(1.0));
    t.set(21, 1, Value(0.5));
    for (int r = 3; r < 10; ++r)
        t.set(21, r, Value(0.0));
    EXPECT_EQ(WindowAverage(t, 21, 10, 0), 1.5 / 9);
    t.set(21, 2, Value(QString()));
    EXPECT_EQ(WindowAverage(t, 21, 10, 0), 1.5 / 9); // an empty text counts as empty too
    t.set(21, 2, Value(u" 3.5x"));
    EXPECT_EQ(WindowAverage(t, 21, 10, 0), 5.0 / 10);
}

TEST(WindowAverage, FailsWithoutAnyValueOrOutsideTheTable) {
    Table t(31, 10);
    EXPECT_THROW(WindowAverage(t, 21, 10, 0), StepFailure);
    t.set(21, 9, Value(1.0));
    EXPECT_EQ(WindowAverage(t, 21, 10, 0), 1.0);
    EXPECT_THROW(WindowAverage(t, 21, 10, 1), StepFailure);
}

TEST(ComputeStrengthTrends, PairsAwayRowsValidNoLaterThanTheHomeRow) {
    // Home validity ends 20, 13, 6 May (rows 0..2); away 20, 15, 8, 1 May
    // (rows 0..3). The pairs are (h0, a0), (h1, a2), (h2, a3).
    AnalysisState s = stateWith(historyTable(22, day(5, 13), 7, scoreA), historyTable(23, day(5, 15), 7, scoreB), day(5, 20));
    computeStrengthTrends(s);
    ASSERT_EQ(s.trendSeries.rows(), 3);
    ASSERT_EQ(s.trendSeries.columns(), 21);
    EXPECT_EQ(s.homeHistory.at(23, 2), Value(day(5, 6)));
    EXPECT_EQ(s.awayHistory.at(23, 3), Value(day(5, 1)));

    const int pairs[3][2] = {{2, 3}, {1, 2}, {0, 0}}; // oldest pair first after the reversal
    for (int row = 0; row < 3; ++row) {
        const int h = pairs[row][0], a = pairs[row][1];
        SCOPED_TRACE(row);
        EXPECT_EQ(s.trendSeries.at(0, row), s.homeHistory.at(22, h));
        EXPECT_EQ(s.trendSeries.at(1, row), s.awayHistory.at(22, a));
        EXPECT_EQ(s.trendSeries.at(2, row).number(), s.homeHistory.at(22, h).number() - s.awayHistory.at(22, a).number());
        EXPECT_EQ(s.trendSeries.at(3, row), s.homeHistory.at(24, h));
        EXPECT_EQ(s.trendSeries.at(4, row), s.awayHistory.at(24, a));
        EXPECT_EQ(s.trendSeries.at(5, row).number(), s.homeHistory.at(24, h).number() - s.awayHistory.at(24, a).number());
        EXPECT_TRUE(s.trendSeries.at(12, row).isEmpty());
    }
    EXPECT_DOUBLE_EQ(s.homeHistory.at(22, 1).number(), [] {
        double sum = 0;
        for (int r = 1; r <= 20; ++r)
            sum += scoreA(r);
        return sum / 20;
    }());
}

TEST(ComputeStrengthTrends, TheSameAwayRowPairsAgainAndAHomeRowMayFindNone) {
    // Home ends 20, 19, 10 May; away ends 20, 12 May. h0 pairs with a0; for h1
    // a0 (20 May) is too late and a1 (12 May) qualifies; h2 (10 May) finds
    // nothing from j0 = 1 on.
    Table home = historyTable(22, day(5, 19), 9, scoreA);
    Table away = historyTable(21, day(5, 12), 9, scoreB);
    AnalysisState s = stateWith(home, away, day(5, 20));
    computeStrengthTrends(s);
    ASSERT_EQ(s.trendSeries.rows(), 2);
    EXPECT_EQ(s.trendSeries.at(0, 1), s.homeHistory.at(22, 0));
    EXPECT_EQ(s.trendSeries.at(1, 1), s.awayHistory.at(22, 0));
    EXPECT_EQ(s.trendSeries.at(0, 0), s.homeHistory.at(22, 1));
    EXPECT_EQ(s.trendSeries.at(1, 0), s.awayHistory.at(22, 1));

    // The row found for one home row is tried first for the next and pairs
    // again: home ends 20, 15, 14 May, away 20, 12 May.
    s = stateWith(historyTable(22, day(5, 15), 1, scoreA), historyTable(21, day(5, 12), 1, scoreB), day(5, 20));
    computeStrengthTrends(s);
    ASSERT_EQ(s.trendSeries.rows(), 3);
    EXPECT_EQ(s.trendSeries.at(1, 0), s.awayHistory.at(22, 1));
    EXPECT_EQ(s.trendSeries.at(1, 1), s.awayHistory.at(22, 1));
    EXPECT_EQ(s.trendSeries.at(1, 2), s.awayHistory.at(22, 0));
}

TEST(ComputeStrengthTrends, ValidityEndsCompareByCalendarDay) {
    // The away row's validity ends later on the same day as the home row's:
    // zero calendar days, so it pairs.
    Table away = historyTable(21, day(5, 15), 1, scoreB);
    away.set(0, 0, Value(u"2022-05-15 21:30"));
    AnalysisState s = stateWith(historyTable(21, day(5, 15), 1, scoreA), away, day(5, 20));
    computeStrengthTrends(s);
    ASSERT_EQ(s.trendSeries.rows(), 2);
    EXPECT_EQ(s.trendSeries.at(1, 0), s.awayHistory.at(22, 1));
}

TEST(ComputeStrengthTrends, AveragesOnlyWhereAFullWindowExists) {
    AnalysisState s = stateWith(historyTable(25, day(5, 1), 7, scoreA), historyTable(30, day(5, 1), 7, scoreB), day(5, 8));
    computeStrengthTrends(s);
    for (int r = 0; r <= 5; ++r) {
        EXPECT_TRUE(s.homeHistory.at(22, r).isNumber()) << r;
        EXPECT_TRUE(s.homeHistory.at(24, r).isNumber()) << r;
        EXPECT_TRUE(s.homeHistory.at(23, r).isDate()) << r;
    }
    for (int r = 6; r < 25; ++r)
        for (int c = 22; c <= 24; ++c)
            EXPECT_TRUE(s.homeHistory.at(c, r).isEmpty()) << c << "," << r;
}

TEST(ComputeStrengthTrends, FillsTheSummaryFromTheFitsInListMode) {
    AnalysisState s = stateWith(historyTable(40, day(5, 1), 7, scoreA), historyTable(45, day(4, 29), 7, scoreB), day(5, 8));
    computeStrengthTrends(s);
    const int N = s.trendSeries.rows();
    ASSERT_GE(N, 7);
    for (int c = 6; c <= 11; ++c)
        for (int r = 0; r < N; ++r)
            ASSERT_TRUE(s.trendSeries.at(c, r).isNumber()) << c << "," << r;
    EXPECT_EQ(s.profile.strengths.at(0), s.trendSeries.at(6, N - 1));
    EXPECT_EQ(s.profile.strengths.at(1), s.trendSeries.at(7, N - 1));
    EXPECT_EQ(s.profile.strengths.at(4), s.trendSeries.at(9, N - 1));
    EXPECT_EQ(s.profile.strengths.at(5), s.trendSeries.at(10, N - 1));
    // The 10-match values one point before the newest are the fits at x = N-1.
    EXPECT_EQ(s.profile.strengths.at(6), s.trendSeries.at(9, N - 2));
    EXPECT_EQ(s.profile.strengths.at(7), s.trendSeries.at(10, N - 2));

    // The 20-match forecasts are the fits one point after the newest.
    QList<double> x, y;
    for (int i = 0; i < N; ++i) {
        x << i + 1;
        y << s.trendSeries.at(0, i).number();
    }
    const QList<double> c = PolynomialRegression(x, y, 6);
    double forecast = c[0];
    for (int k = 1; k <= 6; ++k)
        forecast += c[k] * std::pow(double(N + 1), k);
    EXPECT_EQ(s.profile.strengths.at(2).number(), forecast);

    EXPECT_TRUE(trendShortfall(s).isEmpty());
}

TEST(ComputeStrengthTrends, SimilarMatchModeLeavesTheSummaryAlone) {
    AnalysisState s = stateWith(historyTable(40, day(5, 1), 7, scoreA), historyTable(40, day(5, 1), 7, scoreB), day(5, 8));
    s.analysisMode = AnalysisMode::SimilarMatch;
    s.profile.strengths.set(3, Value(0.42));
    const ValueArray before = s.profile.strengths;
    computeStrengthTrends(s);
    EXPECT_GT(s.trendSeries.rows(), 0);
    EXPECT_EQ(s.profile.strengths, before);
}

TEST(ComputeStrengthTrends, TwentyRowsGiveOnePointThatCannotBeFitted) {
    AnalysisState s = stateWith(historyTable(20, day(5, 1), 7, scoreA), historyTable(20, day(5, 1), 7, scoreB), day(5, 8));
    StepLog log;
    computeStrengthTrends(s, &log);
    ASSERT_EQ(s.trendSeries.rows(), 1);
    EXPECT_EQ(s.trendSeries.at(0, 0), s.homeHistory.at(22, 0));
    EXPECT_EQ(s.trendSeries.at(1, 0), s.awayHistory.at(22, 0));
    for (int c = 6; c <= 11; ++c)
        EXPECT_TRUE(s.trendSeries.at(c, 0).isEmpty()) << c;
    for (int e = 0; e < 8; ++e)
        EXPECT_TRUE(s.profile.strengths.at(e).isEmpty()) << e;
    EXPECT_FALSE(log.empty());
}

TEST(ComputeStrengthTrends, ShortHistoryGivesAnEmptyTrendAndZeros) {
    AnalysisState s = stateWith(historyTable(19, day(5, 1), 7, scoreA), historyTable(40, day(5, 1), 7, scoreB), day(5, 8));
    s.trendSeries = Table(21, 5); // the previous match's trend
    s.trendSeries.set(0, 0, Value(1.0));
    computeStrengthTrends(s);
    EXPECT_EQ(s.trendSeries, Table(21, 0));
    ValueArray zeros(8);
    for (int e = 0; e < 8; ++e)
        zeros.set(e, Value(0.0));
    EXPECT_EQ(s.profile.strengths, zeros);
    EXPECT_EQ(s.homeHistory.at(23, 0), Value(day(5, 8)));
    EXPECT_TRUE(trendShortfall(s).contains(QStringLiteral("主队")));
    EXPECT_FALSE(trendShortfall(s).contains(QStringLiteral("客队")));

    s = stateWith(Table(31, 0), Table(), day(5, 8));
    computeStrengthTrends(s);
    EXPECT_EQ(s.trendSeries.rows(), 0);
    EXPECT_TRUE(trendShortfall(s).contains(QStringLiteral("两队")));
}

TEST(ComputeStrengthTrends, NoPairGivesAnEmptyTrend) {
    // Without a kick-off date no validity end of row 0 can be read, and with
    // twenty rows there is no other row to pair.
    AnalysisState s = stateWith(historyTable(20, day(5, 1), 7, scoreA), historyTable(20, day(5, 1), 7, scoreB), day(5, 8));
    s.matchDate = Value(u"unknown");
    computeStrengthTrends(s);
    EXPECT_EQ(s.trendSeries.rows(), 0);
    EXPECT_EQ(s.profile.strengths.at(0), Value(0.0));
    EXPECT_TRUE(trendShortfall(s).contains(QStringLiteral("配对")));
}
