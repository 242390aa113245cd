// The verdict backtest over a small database whose every match is known.

#include "Backtest.h"
#include "MatchStore.h"
#include "ServiceTestData.h"

#include <gtest/gtest.h>

using namespace chenglan::dataservice;
using namespace chenglan::dataservice::testing;
using namespace Qt::StringLiterals;

// In the row's namespace, where GoogleTest looks for it, so that a failed
// comparison prints the row rather than its bytes.
namespace chenglan::dataservice {
void PrintTo(const BacktestRow &r, std::ostream *os) {
    *os << r.key.toStdString() << ": " << r.matches << " matches, " << r.won << "/" << r.drawn << "/" << r.lost
        << ", " << r.scoreHits << " hits";
}
} // namespace chenglan::dataservice

namespace {

MatchFacts finished(qint64 id, int home, int away, const QString &kickoff = u"2024-03-01 20:00"_s) {
    MatchFacts f = finishedMatch(id, kickoff);
    f.fullTimeHome = home;
    f.fullTimeAway = away;
    return f;
}

Strengths strengths(int home, int away) { return Strengths{home, away, 0, 0, 0, 0, 0, 0}; }

class BacktestTest : public ::testing::Test {
protected:
    void SetUp() override {
        MatchStore store(m_db.path());
        store.beginBatch();
        // Level 1 (d = 1.5), 4-1: a home win on a suggested score.
        store.upsertMatch(finished(1, 4, 1));
        store.upsertProfile(profileOf(1, strengths(150, 0), u"A31"_s, u"D10"_s));
        // 0.35 - 0.25 is just below 0.1 as the client computes it: level 7, whose 1-1 it is.
        store.upsertMatch(finished(2, 1, 1));
        store.upsertProfile(profileOf(2, strengths(35, 25), u"A31"_s, u"D10"_s));
        // Level 8 (d = 0), 0-2: no suggested score.
        store.upsertMatch(finished(3, 0, 2, u"2024-03-31 23:30"_s));
        store.upsertProfile(profileOf(3, strengths(0, 0), u"B11"_s, u"D11"_s));
        // Level 14 (d = -2), 0-3, on 1 April.
        store.upsertMatch(finished(4, 0, 3, u"2024-04-01 01:00"_s));
        store.upsertProfile(profileOf(4, strengths(-200, 0), u"B00"_s, u"D00"_s));
        // Not counted: not finished, no facts, no profile.
        MatchFacts unfinished = finishedMatch(5);
        unfinished.fullTimeHome.reset();
        unfinished.fullTimeAway.reset();
        store.upsertMatch(unfinished);
        store.upsertProfile(profileOf(5, strengths(150, 0)));
        store.upsertProfile(profileOf(6, strengths(150, 0)));
        store.upsertMatch(finished(7, 4, 1));
        store.commitBatch();
    }

    Backtest backtest(BacktestRange range = {}) {
        MatchStore store(m_db.path(), MatchStore::Access::ReadOnly);
        return runBacktest(store, range);
    }

    TempDatabase m_db;
};

} // namespace

TEST_F(BacktestTest, CountsResultsAndSuggestedScoresByLevelAndByCodes) {
    const Backtest b = backtest();
    ASSERT_EQ(b.levels.size(), 14u);
    EXPECT_EQ(b.levels[0], (BacktestRow{u"1"_s, 1, 1, 0, 0, 1}));
    EXPECT_EQ(b.levels[6], (BacktestRow{u"7"_s, 1, 0, 1, 0, 1}));
    EXPECT_EQ(b.levels[7], (BacktestRow{u"8"_s, 1, 0, 0, 1, 0}));
    EXPECT_EQ(b.levels[13], (BacktestRow{u"14"_s, 1, 0, 0, 1, 1}));
    for (int n : {2, 3, 4, 5, 6, 9, 10, 11, 12, 13})
        EXPECT_EQ(b.levels[size_t(n - 1)].matches, 0) << n;
    EXPECT_EQ(b.total, (BacktestRow{u"all"_s, 4, 1, 1, 2, 3}));

    // Most matches first, then by the codes.
    ASSERT_EQ(b.codePairs.size(), 3u);
    EXPECT_EQ(b.codePairs[0], (BacktestRow{u"A31 D10"_s, 2, 1, 1, 0, 2}));
    EXPECT_EQ(b.codePairs[1], (BacktestRow{u"B00 D00"_s, 1, 0, 0, 1, 1}));
    EXPECT_EQ(b.codePairs[2], (BacktestRow{u"B11 D11"_s, 1, 0, 0, 1, 0}));
    EXPECT_EQ(b.firstKickoff, u"2024-03-01 20:00"_s);
    EXPECT_EQ(b.lastKickoff, u"2024-04-01 01:00"_s);
}

TEST_F(BacktestTest, TheRangeTakesWholeKickoffDays) {
    EXPECT_EQ(backtest({std::nullopt, QDate(2024, 3, 31)}).total.matches, 3);
    EXPECT_EQ(backtest({QDate(2024, 3, 31), std::nullopt}).total.matches, 2);
    EXPECT_EQ(backtest({QDate(2024, 4, 1), QDate(2024, 4, 1)}).total, (BacktestRow{u"all"_s, 1, 0, 0, 1, 1}));
    EXPECT_EQ(backtest({QDate(2025, 1, 1), std::nullopt}).total.matches, 0);
}

TEST_F(BacktestTest, TableAndCsvShowEveryLevelWithItsScores) {
    const Backtest b = backtest();
    const QStringList csv = backtestCsv(b).split(u"\r\n"_s, Qt::SkipEmptyParts);
    // A header, 14 levels and their total, 3 code pairs and their total.
    ASSERT_EQ(csv.size(), 1 + 15 + 4);
    EXPECT_EQ(csv[0], u"table,key,range,scores,verdict,matches,home_won,drawn,home_lost,score_hits,"
                      "home_won_pct,drawn_pct,home_lost_pct,score_hit_pct"_s);
    EXPECT_EQ(csv[1], u"verdict,1,d > 1.25,4-1 3-0,主队实力超强于客队,1,1,0,0,1,100.0,0.0,0.0,100.0"_s);
    EXPECT_EQ(csv[2], u"verdict,2,1 < d <= 1.25,3-0 3-1,主队实力超高于客队,0,0,0,0,0,,,,"_s);
    EXPECT_EQ(csv[8], u"verdict,8,-0.1 < d <= 0,0-0 0-1,客队实力与主队相当,1,0,0,1,0,0.0,0.0,100.0,0.0"_s);
    EXPECT_EQ(csv[14], u"verdict,14,d <= -1.25,1-4 0-3,客队实力超强于主队,1,0,0,1,1,0.0,0.0,100.0,100.0"_s);
    EXPECT_EQ(csv[16], u"codes,A31 D10,,,,2,1,1,0,2,50.0,50.0,0.0,100.0"_s);

    const QString text = backtestText(b);
    EXPECT_TRUE(text.startsWith(u"Verdict backtest: 4 finished matches with a profile, kick-off 2024-03-01 20:00 to "
                                "2024-04-01 01:00\n"_s))
        << text.toStdString();
    for (int n = 1; n <= 14; ++n)
        EXPECT_TRUE(text.contains(u"\n%1  "_s.arg(n, 5))) << n;
    EXPECT_TRUE(text.contains(u"A31 D10        2      1  50.0%"_s)) << text.toStdString();
}
