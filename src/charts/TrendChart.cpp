#include "charts/TrendChart.h"

#include "base/TextRules.h"

#include <cmath>

namespace chenglan {

namespace {

// Layout in twips: left margin to the vertical axis, bottom margin below the
// horizontal axis, top margin above the plot.
constexpr double LeftMargin = 540;
constexpr double BottomMargin = 340;
constexpr double TopMargin = 340;
constexpr int GridIntervals = 7;
// The fitted series are drawn: group 0 the 20-match fits, group 1 the
// 10-match fits.
constexpr double FirstColumn = trend::FittedOffset + trend::Home20Column;

int seriesColour(int column) {
    using namespace trend;
    switch (column) {
    case FittedOffset + Home20Column:
    case FittedOffset + Home10Column:
        return colour::Red;
    case FittedOffset + Away20Column:
    case FittedOffset + Away10Column:
        return colour::Blue;
    case FittedOffset + Difference20Column:
    case FittedOffset + Difference10Column:
        return colour::Yellow;
    default:
        return -1;
    }
}

// The column of series `offset` (0 home, 1 away, 2 difference) of group k.
int seriesColumn(double k, int offset) {
    const double column = std::nearbyint(FirstColumn + 3 * k + offset);
    if (!(column >= 0 && column <= 1.0e6))
        throw StepFailure(QStringLiteral("series group %1 has no column").arg(k));
    return int(column);
}

double cell(const Table &series, int column, int row) { return series.at(column, row).number(); }

QString rounded(double v) { return text::plainDecimal(text::roundHalfEven(v, 2)); }

} // namespace

void drawTrendChart(const AnalysisState &s, Canvas &pic, StepLog *log) {
    const Table &series = s.trendSeries;
    // The previous chart leaves an upward scale: its height reads negative.
    const float H = float(std::fabs(pic.scaleHeight()));
    const float W = float(pic.scaleWidth());

    pic.clear();
    pic.setForeColour(colour::Red);
    pic.setLineWidth(1);
    pic.setBackColour(colour::Black);
    pic.clear();

    const double k = s.trendChartIndex.number();
    int R = 0;
    attempt([&] { R = series.lastRow(); }, log);
    double max = -999;
    double min = 999;
    for (int i = 0; i <= R; ++i) {
        for (int offset = 0; offset < 3; ++offset) {
            attempt([&] {
                const double v = cell(series, seriesColumn(k, offset), i);
                if (v > max)
                    max = v;
                if (v < min)
                    min = v;
            }, log);
        }
    }

    attempt([&] { pic.scale(-LeftMargin, H - BottomMargin, W - LeftMargin, -BottomMargin); }, log);
    const float PH = H - float(BottomMargin) - float(TopMargin);
    pic.line(0, 0, 0, PH, colour::Red);

    // Grid lines at running sums of PH / 7 in single precision: when the sum
    // ends just above PH the top line and its label are left out. At most
    // eight lines, so that a plot of no height cannot loop for ever.
    const float gridStep = PH / float(GridIntervals);
    float y = 0;
    for (int g = 0; y <= PH && g <= GridIntervals; ++g) {
        pic.setLineStyle(y == 0 ? Canvas::LineStyle::Solid : Canvas::LineStyle::Dotted);
        pic.line(0, y, W - LeftMargin, y, colour::GridBrown);
        pic.moveTo(-500, y + 80);
        pic.print(rounded(min + g * (max - min) / GridIntervals));
        y = y + gridStep;
    }

    pic.setLineStyle(Canvas::LineStyle::Dotted);
    // All values equal: the factor cannot be computed and stays 0, which puts
    // every point on the bottom line.
    double yS = 0;
    if (max - min != 0)
        yS = PH / (max - min);
    const double xS = (W - LeftMargin) / (R + 0.5);
    const double y0 = -min * yS;
    pic.line(0, y0, W - LeftMargin, y0, colour::White);

    pic.setLineStyle(Canvas::LineStyle::Solid);
    pic.setLineWidth(2);

    pic.moveTo(-400, H - 400);
    pic.setForeColour(colour::White);
    if (k == 0)
        pic.print(QStringLiteral("实力Ⅰ ") + s.chartCaption.text());
    else if (s.sideIndex.equals(1))
        pic.print(QStringLiteral("实力Ⅱ ") + s.chartCaption.text());

    pic.setForeColour(colour::Red);
    attempt([&] { R = series.lastRow(); }, log);
    for (int i = 0; i < R; ++i) {
        for (int offset = 0; offset < 3; ++offset) {
            attempt([&] {
                const int column = seriesColumn(k, offset);
                const int c = seriesColour(column);
                if (c < 0)
                    return;
                pic.line(i * xS, (cell(series, column, i) - min) * yS, i * xS + xS,
                         (cell(series, column, i + 1) - min) * yS, c);
            }, log);
        }
    }

    pic.moveTo(300, -100);
    pic.setForeColour(colour::White);
    pic.print(QStringLiteral("趋势值"));
    const struct {
        double x;
        int colour;
        const char16_t *label;
    } legend[] = {{900, colour::Red, u" 主队"}, {2000, colour::Blue, u" 客队"}, {3000, colour::Yellow, u" 实力差"}};
    for (int offset = 0; offset < 3; ++offset) {
        pic.moveTo(legend[offset].x, -100);
        pic.setForeColour(legend[offset].colour);
        attempt([&] {
            pic.print(QString::fromUtf16(legend[offset].label) + rounded(cell(series, seriesColumn(k, offset), R)));
        }, log);
    }
}

void drawTrendCharts(const AnalysisState &s, std::array<Canvas, 2> &trendCharts, StepLog *log) {
    attempt([&] {
        const int side = s.sideIndex.toInt16();
        if (side != 0 && side != 1)
            throw StepFailure(QStringLiteral("no trend picture %1").arg(side));
        drawTrendChart(s, trendCharts[std::size_t(side)], log);
    }, log);
}

} // namespace chenglan
