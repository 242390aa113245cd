#pragma once

#include "base/Table.h"
#include "base/Value.h"

#include <QList>

#include <cstdint>

namespace chenglan {

// The schedule of the last scrape: MatchTable (fields 0..20, a row per
// listed match) and MatchRowFlags (1 for every stored row).
struct ScheduleState {
    Table MatchTable;
    ValueArray MatchRowFlags;

    friend bool operator==(const ScheduleState &, const ScheduleState &) = default;
};

// Every value of one match analysis, under its given name. The steps read and
// write these members directly; a job works on its own copy and hands the
// finished copy back to the window.
struct AnalysisState {
    // Scalars.
    Value ListMatchId;
    Value ListMatchTime;
    Value ListRowKey;
    Value CurrentMatchId;
    Value HomeTeamId;
    Value AwayTeamId;
    Value HomeTeamName;
    Value AwayTeamName;
    Value SideIndex;
    Value PatternCode20;
    Value PatternCode10;
    Value ListMatchCaption;
    Value SelectedDate;
    Value SimilarQuery;
    Value SimilarRowKey;
    Value MatchDate;
    Value AnalysisMode;
    Value TrendChartIndex;
    Value SimilarMatchCaption;
    Value ChartCaption;
    Value ListHandicapLoaded;

    // Arrays and tables.
    ValueArray AnalysisData;   // elements 0..3: home list, away list, third list, info line
    Table HomeHistory;         // columns 0..30, newest match first
    Table AwayHistory;         // columns 0..30, newest match first
    Table TrendSeries;         // columns 0..20, a row per paired point
    ValueArray StrengthSummary; // elements 0..7
    Table SimilarMatches;      // columns 0..50, a row per similar historic match
    Table HandicapSummary;     // items 0..7 (columns) by matches 0..1 (rows)

    // Working storage of the polynomial fit.
    QList<double> RegressionX;
    QList<double> RegressionY;
    std::int16_t RegressionDegree = 0;
    QList<QList<double>> DesignMatrix;
    QList<double> RegressionCoefficients;

    friend bool operator==(const AnalysisState &, const AnalysisState &) = default;
};

} // namespace chenglan
