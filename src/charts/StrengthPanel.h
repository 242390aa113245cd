#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "charts/Canvas.h"

#include <QString>

#include <array>
#include <utility>

namespace chenglan {

// The form mark of a result code: "负" for -1, "平" for 0, "胜" for anything
// else. The cell is replaced by its numeric value first (empty and
// non-numeric text become 0), so the history cells the panels show hold
// numbers afterwards; their marks do not change by it.
QString ResultCodeToText(Value &code);

// The 14-level verdict on home strength I minus away strength I (values
// strength::Home20 and Away20 of a profile): "两队对应实力差Ⅰ:" + the
// difference rounded to two decimals + the level's text. The levels are
// judged on the unrounded difference. Throws StepFailure when a value is
// missing or not a number.
QString StrengthVerdict(const ValueArray &strengths);

// One of the verdict's 14 levels: number 1 (the home side far stronger) to
// 14 (the away side far stronger), its text as the verdict ends with it
// (beginning with a blank) and the two final scores it suggests, home goals
// first.
struct StrengthLevel {
    int number = 0;
    QString text;
    std::array<std::pair<int, int>, 2> scores{};
    friend bool operator==(const StrengthLevel &, const StrengthLevel &) = default;
};
inline constexpr int StrengthLevelCount = 14;

// The level StrengthVerdict judges a difference d (home strength Ⅰ minus away
// strength Ⅰ) to be in: lower bounds exclusive, upper bounds inclusive. A d
// that is not a number has no level (number 0).
StrengthLevel strengthLevel(double d);

// Wins, draws and losses of the home team against the away team: every row
// of homeHistory in which awayTeamId played on either side counts by its
// result code (history::ResultColumn); other codes are not counted.
struct HeadToHead {
    int wins = 0;
    int draws = 0;
    int losses = 0;
    int total() const { return wins + draws + losses; }
    friend bool operator==(const HeadToHead &, const HeadToHead &) = default;
};
HeadToHead countHeadToHead(const AnalysisState &s, StepLog *log = nullptr);

// The strength panel: clears the whole box and draws the list match's
// caption, both teams' last six results with their strengths and pattern
// codes, the head-to-head line and the verdict. Converts column 12 of rows
// 0..5 of both histories to numbers (ResultCodeToText).
void drawStrengthPanel(AnalysisState &s, Canvas &strengthPanel, StepLog *log = nullptr);

// The handicap comparison block below y = 1800 of the strength panel: the
// similar match's caption, both sides' results and head-to-head record, and
// the opening and latest handicap of the list match (本场) against the
// similar match (历史). Leaves the strength panel above it standing.
void drawHandicapComparison(AnalysisState &s, Canvas &strengthPanel, StepLog *log = nullptr);

} // namespace chenglan
