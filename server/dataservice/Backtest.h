#pragma once

#include "MatchRecords.h"
#include "MatchStore.h"

#include <QDate>
#include <QString>

#include <optional>
#include <vector>

// How the strength verdict and the pattern codes held up: over the stored
// finished matches with a profile, how often the home side won, drew and
// lost, and how often one of the verdict's two suggested scores was the final
// score, by verdict level and by pair of pattern codes.
namespace chenglan::dataservice {

struct BacktestRow {
    QString key; // the level number, or "A31 D10"
    int matches = 0;
    int won = 0; // by the home side
    int drawn = 0;
    int lost = 0;      // by the home side
    int scoreHits = 0; // the final score was one of the verdict's two

    friend bool operator==(const BacktestRow &, const BacktestRow &) = default;
};

struct Backtest {
    std::vector<BacktestRow> levels;    // all 14, level 1 first
    std::vector<BacktestRow> codePairs; // the pairs met, most matches first, then by codes
    BacktestRow total;
    QString firstKickoff; // of the matches counted
    QString lastKickoff;

    Backtest();
    // Counts one finished match. The verdict is judged on the stored
    // strengths, which are the values the client's panel judges (rounded to
    // two decimals). A match without a full-time score is not counted.
    void add(const MatchFacts &facts, const MatchProfile &profile);
    // Sorts the code pairs; call once after the last add.
    void finish();
};

// Kick-off days, inclusive; either end may be open.
struct BacktestRange {
    std::optional<QDate> from;
    std::optional<QDate> to;
};

// The backtest over every analysed finished match in the store whose
// kick-off day lies in the range. Throws StoreError.
Backtest runBacktest(MatchStore &store, const BacktestRange &range = {});

// The backtest as two readable tables (by verdict, by pattern codes) and as
// CSV (one line per row, the table named in the first column).
QString backtestText(const Backtest &backtest);
QString backtestCsv(const Backtest &backtest);

} // namespace chenglan::dataservice
