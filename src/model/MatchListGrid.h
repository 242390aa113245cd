#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "model/GridData.h"

#include <QString>

namespace chenglan {

// Colours are 24-bit values: red + 256 * green + 65536 * blue.
constexpr int WhiteColor = 16777215;
constexpr int MatchListRowTwips = 450;

// "#RRGGBB" (any "#" and "'" removed, outer blanks trimmed, the first six
// characters read, lower case accepted) as a colour value; an empty text is
// 0. Throws StepFailure for a character that is not a hexadecimal digit and
// for an odd length, whose last pair misses its second digit.
int HexColorToRgb(const QString &color);

// The ten cells of one match in the list, joined by tabs: league, time, home,
// away, home odds, handicap with the Beidan suffix, away odds, score, an
// empty cell and the matchTable row number. Missing fields read as empty.
QString matchListLine(const Table &matchTable, int row);

// Lists every matchTable row whose flag is 1 in matchList: the data rows are
// rebuilt, the league cell painted in the league's colour with white text,
// each row 450 twips high. Rows not flagged leave no gap; column 9 names the
// matchTable row each grid row came from.
void fillMatchList(GridData &matchList, const ScheduleState &s, StepLog *log = nullptr);

} // namespace chenglan
