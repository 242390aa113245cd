#include "charts/ChartPictures.h"

#include "charts/StrengthPanel.h"
#include "charts/TrendChart.h"

namespace chenglan {

ChartPictures ChartPictures::make(double dpi, double trendHeight) {
    return ChartPictures{Canvas(PicSrWidth, PicSrHeight, dpi),
                         {Canvas(PicTdWidth, trendHeight, dpi), Canvas(PicTdWidth, trendHeight, dpi)}};
}

void drawListMatchCharts(AnalysisState &s, ChartPictures &pictures, StepLog *log) {
    DRAW_SR(s, pictures.PIC_SR, log);
    s.SideIndex = Value::fromInt16(0);
    s.TrendChartIndex = Value::fromInt16(0);
    DRAW_TD(s, pictures.PIC_TD, log);
    s.SideIndex = Value::fromInt16(1);
    s.TrendChartIndex = Value::fromInt16(1);
    DRAW_TD(s, pictures.PIC_TD, log);
}

void drawSimilarMatchCharts(AnalysisState &s, ChartPictures &pictures, StepLog *log) {
    DRAW_SR2(s, pictures.PIC_SR, log);
    s.SideIndex = Value::fromInt16(1);
    s.TrendChartIndex = Value::fromInt16(0);
    DRAW_TD(s, pictures.PIC_TD, log);
}

} // namespace chenglan
