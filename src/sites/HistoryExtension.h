#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"

namespace chenglan {

// Lengthen a team's history with the history list of the page of its oldest
// listed match. The page (analysisData, just refilled for that match) lists
// the team on side sideIndex: element 0 is the page's home-side list,
// element 1 its away-side list. Up to 30 records are appended after the
// table's last row, every record field copied into the column of the same
// number (up to column 30), with the own goals (17), goals conceded (18),
// result score (21) and same-side mark (28) derived as the parser does.

// homeHistory with homeTeamId; a failing statement is skipped and the rest
// goes on (fields beyond column 30 are dropped).
void extendHomeHistory(AnalysisState &s, StepLog *log = nullptr);

// awayHistory with awayTeamId; the first failing statement ends the
// extension. The table keeps its grown size and the rows not yet written
// stay empty. The failure is recorded in the log.
void extendAwayHistory(AnalysisState &s, StepLog *log = nullptr);

} // namespace chenglan
