#pragma once

#include "base/Columns.h"
#include "base/StrengthProfile.h"
#include "base/Table.h"
#include "base/Value.h"

#include <QList>

#include <cstdint>

namespace chenglan {

// The schedule of the last scrape: matchTable (matchtable:: fields, a row per
// listed match) and matchRowFlags (1 for every stored row).
struct ScheduleState {
    Table matchTable;
    ValueArray matchRowFlags;

    friend bool operator==(const ScheduleState &, const ScheduleState &) = default;
};

// Which match an analysis is of: the one clicked in the match list, whose
// strength summary it writes, or a historic match of the similar list, which
// leaves the summary of the list match standing.
enum class AnalysisMode { ListMatch, SimilarMatch };

// Every value of one match analysis, under its given name. The steps read and
// write these members directly; a job works on its own copy and hands the
// finished copy back to the window.
struct AnalysisState {
    // Scalars.
    Value listMatchId;
    Value listMatchTime;
    Value listRowKey;
    Value currentMatchId;
    Value homeTeamId;
    Value awayTeamId;
    Value homeTeamName;
    Value awayTeamName;
    Value sideIndex;
    Value listMatchCaption;
    Value selectedDate;
    Value similarQuery;
    Value similarRowKey;
    Value matchDate;
    AnalysisMode analysisMode = AnalysisMode::ListMatch;
    Value trendChartIndex;
    Value similarMatchCaption;
    Value chartCaption;
    Value listHandicapLoaded;

    // Arrays and tables.
    // The columns of the tables are named in base/Columns.h.
    ValueArray analysisData;   // elements 0..3: home list, away list, third list, info line
    Table homeHistory;         // history:: columns, newest match first
    Table awayHistory;         // history:: columns, newest match first
    Table trendSeries;         // trend:: columns, a row per paired point
    StrengthProfile profile;   // of the list match
    Table similarMatches;      // similar:: columns, a row per similar historic match
    Table handicapSummary;     // handicap:: items (columns) by matches 0..1 (rows)

    friend bool operator==(const AnalysisState &, const AnalysisState &) = default;
};

} // namespace chenglan
