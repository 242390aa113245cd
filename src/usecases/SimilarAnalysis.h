#pragma once

#include "base/AnalysisState.h"
#include "usecases/ListAnalysis.h"
#include "base/Step.h"

#include <QString>

namespace chenglan {

// How the analysis of a similar match went, for the status bar.
struct SimilarRun {
    StepLog log;
    bool rowFound = false;   // the row key named a similarMatches row
    bool pageRead = false;   // the historic match's page was read and had its info line
    bool hasTrend = false;
    bool trendFitted = false; // enough pairs for the fit: a trend to show
    int listChanges = -1;    // kept handicap changes of the list match; -1 when not fetched this time
    int similarChanges = 0;  // kept handicap changes of the historic match
    bool ok = false;         // page read, trend formed and both handicap summaries filled
    QString status;
};

// The caption of a historic match: league (4 characters), kick-off, home
// team (5), its goals "-" the away goals, away team (5), from row `row` of
// similarMatches and the kick-off read from its page.
QString similarMatchCaption(const Table &similarMatches, int row, const Value &kickOff);

// A click on a row of the similar-match grid: rowKey is the similarMatches
// row the grid line was built from (grid column 12). Analyses that historic
// match as a list click does (its page, both histories and their
// extensions, the strength model with analysisMode SimilarMatch, so profile.strengths and
// the pattern codes keep the list match's values), sets
// similarMatchCaption and chartCaption, fetches the list match's handicap
// detail into match 0 of handicapSummary once after each list click, and the
// historic match's into match 1. Afterwards currentMatchId and matchDate
// describe the historic match. A row key that names no similarMatches row
// changes nothing and says so; any other failing step is skipped.
// Cancellation ends the run with a StepFailure of kind Cancelled.
SimilarRun analyzeSimilarRow(AnalysisState &s, const Value &rowKey, const AnalysisContext &context);

} // namespace chenglan
