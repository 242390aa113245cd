#include "charts/ChartPictures.h"

#include "charts/StrengthPanel.h"
#include "charts/TrendChart.h"

namespace chenglan {

ChartPictures ChartPictures::make(double dpi, double trendHeight) {
    return ChartPictures{Canvas(PicSrWidth, PicSrHeight, dpi),
                         {Canvas(PicTdWidth, trendHeight, dpi), Canvas(PicTdWidth, trendHeight, dpi)}};
}

void drawListMatchCharts(AnalysisState &s, ChartPictures &pictures, StepLog *log) {
    drawStrengthPanel(s, pictures.strengthPanel, log);
    s.sideIndex = Value::fromInt16(0);
    s.trendChartIndex = Value::fromInt16(0);
    drawTrendCharts(s, pictures.trendCharts, log);
    s.sideIndex = Value::fromInt16(1);
    s.trendChartIndex = Value::fromInt16(1);
    drawTrendCharts(s, pictures.trendCharts, log);
}

void drawSimilarMatchCharts(AnalysisState &s, ChartPictures &pictures, StepLog *log) {
    drawHandicapComparison(s, pictures.strengthPanel, log);
    s.sideIndex = Value::fromInt16(1);
    s.trendChartIndex = Value::fromInt16(0);
    drawTrendCharts(s, pictures.trendCharts, log);
}

} // namespace chenglan
