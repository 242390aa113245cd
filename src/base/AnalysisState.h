#pragma once

#include "base/Table.h"
#include "base/Value.h"

#include <QList>

#include <cstdint>

namespace chenglan {

// The schedule of the last scrape: matchTable (fields 0..20, a row per
// listed match) and matchRowFlags (1 for every stored row).
struct ScheduleState {
    Table matchTable;
    ValueArray matchRowFlags;

    friend bool operator==(const ScheduleState &, const ScheduleState &) = default;
};

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
    Value patternCode20;
    Value patternCode10;
    Value listMatchCaption;
    Value selectedDate;
    Value similarQuery;
    Value similarRowKey;
    Value matchDate;
    Value analysisMode;
    Value trendChartIndex;
    Value similarMatchCaption;
    Value chartCaption;
    Value listHandicapLoaded;

    // Arrays and tables.
    ValueArray analysisData;   // elements 0..3: home list, away list, third list, info line
    Table homeHistory;         // columns 0..30, newest match first
    Table awayHistory;         // columns 0..30, newest match first
    Table trendSeries;         // columns 0..20, a row per paired point
    ValueArray strengthSummary; // elements 0..7
    Table similarMatches;      // columns 0..50, a row per similar historic match
    Table handicapSummary;     // items 0..7 (columns) by matches 0..1 (rows)

    // Working storage of the polynomial fit.
    QList<double> regressionX;
    QList<double> regressionY;
    std::int16_t regressionDegree = 0;
    QList<QList<double>> designMatrix;
    QList<double> regressionCoefficients;

    friend bool operator==(const AnalysisState &, const AnalysisState &) = default;
};

} // namespace chenglan
