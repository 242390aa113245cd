#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "charts/Canvas.h"

#include <array>

namespace chenglan {

// The trend chart of series group trendChartIndex (0: strength I, columns
// 6..8 of trendSeries; 1: strength II, columns 9..11) on element sideIndex
// of trendCharts: black plot, red axis, eight grid lines with value labels, the
// dotted white zero line, home (red), away (blue) and difference (yellow)
// polylines, a white caption and a legend with the newest values. Replaces
// what that element showed before and leaves an upward coordinate system on
// it. A sideIndex other than 0 or 1 draws nothing.
void drawTrendCharts(const AnalysisState &s, std::array<Canvas, 2> &trendCharts, StepLog *log = nullptr);

// The same drawing on one picture, for callers that hold the element.
void drawTrendChart(const AnalysisState &s, Canvas &picture, StepLog *log = nullptr);

} // namespace chenglan
