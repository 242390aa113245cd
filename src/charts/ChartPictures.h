#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "charts/Canvas.h"

#include <array>

namespace chenglan {

// Design sizes of the picture boxes, in twips.
constexpr double PicSrWidth = 7455;
constexpr double PicSrHeight = 3495;
constexpr double PicTdWidth = 7485;
// The trend boxes take their height from the window: each is half of what
// the match list leaves below the strength panel. This is that height for a
// window 10395 twips high, the size the command line draws at.
constexpr double PicTdDesignHeight = 3000;

// The three analysis pictures of the window: the strength panel (with the
// handicap block in its lower part) and the two trend charts.
struct ChartPictures {
    Canvas strengthPanel;
    std::array<Canvas, 2> trendCharts;

    // Fresh white pictures. The window passes its screen's logical DPI and the
    // trend boxes' current height; the command line uses the defaults.
    static ChartPictures make(double dpi = 96, double trendHeight = PicTdDesignHeight);
};

// The drawings that follow a list match's analysis: the strength panel, then
// strength I on trend picture 0 and strength II on trend picture 1. Sets
// sideIndex and trendChartIndex as each chart needs them.
void drawListMatchCharts(AnalysisState &s, ChartPictures &pictures, StepLog *log = nullptr);

// What the pictures show when an analysis formed no trend (its page was not
// read, or the histories were too short): all three blank, no verdict and no
// axes, and on the strength panel one line that says why.
void drawNoTrend(ChartPictures &pictures, const QString &why);

// The drawings that follow a similar match's analysis: the handicap block
// below the strength panel and that match's strength I on trend picture 1.
void drawSimilarMatchCharts(AnalysisState &s, ChartPictures &pictures, StepLog *log = nullptr);

// The same for a similar match without a trend: the handicap block, and on
// the trend picture of the similar match one line that says why.
void drawSimilarMatchNoTrend(AnalysisState &s, ChartPictures &pictures, const QString &why, StepLog *log = nullptr);

} // namespace chenglan
