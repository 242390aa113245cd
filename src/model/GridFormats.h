#pragma once

#include "base/Step.h"
#include "model/GridData.h"

namespace chenglan {

// The two grids of the main window, as the window's layout rule sets them
// up: captions, column alignment and widths in twips. The listing steps fill
// the rows of grids prepared this way.

// matchList, the match list: 15 columns; column 9 holds the matchTable row.
constexpr int MatchListColumns = 15;
constexpr int MatchListKeyColumn = 9;
// similarList, the similar-match list: 23 columns; column 12 holds the
// similarMatches row.
constexpr int SimilarListColumns = 23;
constexpr int SimilarListKeyColumn = 12;

void formatMatchListGrid(GridData &matchList, StepLog *log = nullptr);
void formatSimilarListGrid(GridData &similarList, StepLog *log = nullptr);

// Empty grids of the right size, already formatted.
GridData newMatchListGrid();
GridData newSimilarListGrid();

} // namespace chenglan
