#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"

#include <QString>

namespace chenglan {

// Mean of one column of a table over rows start .. start + window - 1,
// counting only non-empty cells (a cell holding nothing or an empty text is
// skipped; any other contributes its numeric value). Throws StepFailure when
// a row lies outside the table or when every cell of the window is empty.
double WindowAverage(const Table &table, int column, int window, int startRow);

// The strength model. Writes the 20-match and 10-match moving averages
// (columns 22 and 24) and the validity ends (column 23) into both histories,
// pairs the home rows with the away rows valid at the same time, reverses the
// pairs to oldest first into trendSeries columns 0..5, fits a degree-6
// polynomial to each of the six series (columns 6..11) and, when analysisMode
// is ListMatch, condenses the newest fitted values and the forecasts into
// profile.strengths.
//
// When either history is shorter than 20 rows or no pair qualifies there is
// no trend: trendSeries is left without rows and, for a list match, profile.strengths
// holds zeros. trendShortfall() says which case it was.
void computeStrengthTrends(AnalysisState &s, StepLog *log = nullptr);

// Whether the last computeStrengthTrends formed a trend that can be shown:
// more pairs than the fit's degree. Fewer pairs leave the fitted columns
// empty and the strengths at zero, which is no trend to show or to ask the
// data service about.
bool trendFitted(const AnalysisState &s);

// Why the last computeStrengthTrends produced no trend, as a sentence for the status bar;
// empty when it did.
QString trendShortfall(const AnalysisState &s);

} // namespace chenglan
