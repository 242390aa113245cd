#pragma once

#include "base/Step.h"
#include "model/GridData.h"

namespace chenglan {

// The two grids of the main window, as the window's layout rule sets them
// up: captions, column alignment and widths in twips. The listing steps fill
// the rows of grids prepared this way.

// matchList, the match list: 15 columns; MatchListKeyColumn holds the
// matchTable row.
constexpr int MatchListColumns = 15;
namespace matchlist {
inline constexpr int LeagueColumn = 0;
inline constexpr int TimeColumn = 1;
inline constexpr int HomeTeamColumn = 2;
inline constexpr int AwayTeamColumn = 3;
inline constexpr int HomeOddsColumn = 4;
inline constexpr int HandicapColumn = 5;
inline constexpr int AwayOddsColumn = 6;
inline constexpr int ScoreColumn = 7;
inline constexpr int LastFormattedColumn = 10;
} // namespace matchlist
constexpr int MatchListKeyColumn = 9;

// similarList, the similar-match list: 23 columns, two lines per match (home
// side, away side); SimilarListKeyColumn holds the similarMatches row.
constexpr int SimilarListColumns = 23;
namespace similarlist {
inline constexpr int LeagueColumn = 0;   // merged over both lines
inline constexpr int TimeColumn = 1;     // the date, then the time
inline constexpr int TeamColumn = 2;
inline constexpr int HandicapColumn = 3; // the handicap, then the score
inline constexpr int LastFormattedColumn = 22;
} // namespace similarlist
constexpr int SimilarListKeyColumn = 12;

void formatMatchListGrid(GridData &matchList, StepLog *log = nullptr);
void formatSimilarListGrid(GridData &similarList, StepLog *log = nullptr);

// Empty grids of the right size, already formatted.
GridData newMatchListGrid();
GridData newSimilarListGrid();

} // namespace chenglan
