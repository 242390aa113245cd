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

namespace {

// Where a line that says why starts, in twips from the inner top-left corner.
constexpr double WhyMargin = 120;
constexpr int White = 0xFFFFFF;

void blank(Canvas &canvas) {
    canvas.scaleToTwips();
    canvas.setBackColour(White);
    canvas.clear();
}

void printWhy(Canvas &canvas, const QString &why) {
    canvas.setFontSize(Canvas::DefaultFontSize);
    canvas.setForeColour(0);
    canvas.moveTo(WhyMargin, WhyMargin);
    canvas.print(why);
}

} // namespace

void drawNoTrend(ChartPictures &pictures, const QString &why) {
    for (Canvas *canvas : {&pictures.strengthPanel, &pictures.trendCharts[0], &pictures.trendCharts[1]})
        blank(*canvas);
    printWhy(pictures.strengthPanel, why);
}

void drawSimilarMatchNoTrend(AnalysisState &s, ChartPictures &pictures, const QString &why, StepLog *log) {
    drawHandicapComparison(s, pictures.strengthPanel, log);
    blank(pictures.trendCharts[1]);
    printWhy(pictures.trendCharts[1], why);
}

void drawSimilarMatchCharts(AnalysisState &s, ChartPictures &pictures, StepLog *log) {
    drawHandicapComparison(s, pictures.strengthPanel, log);
    s.sideIndex = Value::fromInt16(1);
    s.trendChartIndex = Value::fromInt16(0);
    drawTrendCharts(s, pictures.trendCharts, log);
}

} // namespace chenglan
