#include "ChartSamples.h"

#include "charts/ChartPictures.h"
#include "charts/TrendChart.h"

#include <gtest/gtest.h>

#include <limits>

using namespace chenglan;
using namespace chenglan::testing;
using namespace Qt::Literals::StringLiterals;

namespace {

AnalysisState trendState(Table series, int side = 0, int group = 0) {
    AnalysisState s;
    s.trendSeries = std::move(series);
    s.sideIndex = Value::fromInt16(std::int16_t(side));
    s.trendChartIndex = Value::fromInt16(std::int16_t(group));
    s.chartCaption = Value(u"英超 2022-10-09 15:30 曼联2-1 利物浦");
    return s;
}

Canvas drawn(const AnalysisState &s, double height = PicTdDesignHeight) {
    Canvas pic(PicTdWidth, height);
    drawTrendChart(s, pic);
    return pic;
}

// The value labels along the axis, bottom first.
QStringList labels(const Canvas &pic) {
    QStringList out;
    for (const DrawnText &t : pic.texts())
        if (t.position.x() == -500)
            out.append(t.text);
    return out;
}

QStringList legend(const Canvas &pic) {
    QStringList out;
    for (const DrawnText &t : pic.texts())
        if (t.position.y() == -100)
            out.append(t.text);
    return out;
}

// Inside the plot, clear of the axis and the labels.
QRect plotArea(const Canvas &pic) {
    const QPoint bottomLeft = pic.toPixel(0, 0);
    const QPoint topRight = pic.toPixel(pic.scaleWidth() + pic.scaleLeft(), pic.scaleTop() - 340);
    return QRect(QPoint(bottomLeft.x() + 2, topRight.y()), QPoint(topRight.x() - 1, bottomLeft.y() - 3));
}

// Series that stay flat: home at 1, away at -1, their difference at 2.
Table flatSeries(int n) {
    Table t(21, n);
    for (int i = 0; i < n; ++i) {
        t.set(6, i, Value(1.0));
        t.set(7, i, Value(-1.0));
        t.set(8, i, Value(2.0));
    }
    return t;
}

} // namespace

TEST(DrawTrendCharts, ChartColoursAndLineStyles) {
    const Canvas pic = drawn(trendState(flatSeries(10)));
    keepPicture(pic, QStringLiteral("trend-flat"));
    const QImage &img = pic.image();

    // Black plot; the axis a solid red column from the bottom to the top line,
    // where the grid and the zero line do not cross it.
    EXPECT_EQ(img.pixel(img.width() / 2, img.height() / 2 + 7) & 0xFFFFFF, 0u);
    const QPoint origin = pic.toPixel(0, 0);
    const QPoint top = pic.toPixel(0, 2260);
    EXPECT_GE(countColour(img, QRect(origin.x(), top.y(), 1, origin.y() - top.y()), colour::Red),
              origin.y() - top.y() - 9);

    // Grid lines above the bottom one are dotted brown.
    const int firstDotted = pic.toPixel(0, 2260.0 / 7).y();
    const int brown = countColour(img, QRect(origin.x() + 1, firstDotted, 300, 1), colour::GridBrown);
    EXPECT_GT(brown, 50);
    EXPECT_LT(brown, 200);

    // Values run from -1 to 2; the zero line a third of the way up, dotted white.
    const int zero = pic.toPixel(0, 2260.0 / 3).y();
    const int white = countColour(img, QRect(origin.x() + 1, zero, 300, 1), colour::White);
    EXPECT_GT(white, 50);
    EXPECT_LT(white, 200);

    // The three series two pixels thick at their heights.
    const int x = img.width() / 2;
    const struct {
        double value;
        int colour;
    } lines[] = {{2, colour::Yellow}, {1, colour::Red}, {-1, colour::Blue}};
    for (const auto &l : lines) {
        const int y = pic.toPixel(0, (l.value + 1) * 2260 / 3).y();
        EXPECT_EQ(countColour(img, QRect(x, y - 3, 1, 7), l.colour), 2) << l.value;
    }

    EXPECT_EQ(labels(pic), (QStringList{u"-1"_qs, u"-0.57"_qs, u"-0.14"_qs, u"0.29"_qs, u"0.71"_qs, u"1.14"_qs,
                                        u"1.57"_qs, u"2"_qs}));
    EXPECT_EQ(legend(pic), (QStringList{u"趋势值"_qs, u" 主队1"_qs, u" 客队-1"_qs, u" 实力差2"_qs}));
    EXPECT_EQ(pic.texts().at(8).text, u"实力Ⅰ 英超 2022-10-09 15:30 曼联2-1 利物浦"_qs);
    EXPECT_EQ(pic.texts().at(8).colour, colour::White);
}

TEST(DrawTrendCharts, BothGroupsOnTheirPictures) {
    AnalysisState s = trendState(trendSeries(25));
    ChartPictures pics = ChartPictures::make();
    drawListMatchCharts(s, pics);
    keepPicture(pics.trendCharts[0], QStringLiteral("trend-0"));
    keepPicture(pics.trendCharts[1], QStringLiteral("trend-1"));
    EXPECT_EQ(legend(pics.trendCharts[0]), (QStringList{u"趋势值"_qs, u" 主队0.67"_qs, u" 客队-0.2"_qs, u" 实力差0.87"_qs}));
    EXPECT_EQ(legend(pics.trendCharts[1]), (QStringList{u"趋势值"_qs, u" 主队0.54"_qs, u" 客队-0.24"_qs, u" 实力差0.78"_qs}));
    EXPECT_TRUE(pics.trendCharts[1].textStrings().contains(u"实力Ⅱ 英超 2022-10-09 15:30 曼联2-1 利物浦"_qs));

    // Strength II on the upper picture has no caption; no other picture changes.
    const QImage lower = pics.trendCharts[1].image();
    s.sideIndex = Value::fromInt16(0);
    drawTrendCharts(s, pics.trendCharts);
    EXPECT_EQ(legend(pics.trendCharts[0]), legend(pics.trendCharts[1]));
    for (const DrawnText &t : pics.trendCharts[0].texts())
        EXPECT_FALSE(t.text.startsWith(u"实力"_qs)) << t.text.toStdString();
    EXPECT_EQ(pics.trendCharts[1].image(), lower);

    // Drawing the same element again, over its upward scale, changes nothing.
    const QImage upper = pics.trendCharts[0].image();
    drawTrendCharts(s, pics.trendCharts);
    EXPECT_EQ(pics.trendCharts[0].image(), upper);

    // A side other than 0 or 1 draws nowhere.
    s.sideIndex = Value::fromInt16(2);
    StepLog log;
    drawTrendCharts(s, pics.trendCharts, &log);
    EXPECT_FALSE(log.empty());
    EXPECT_EQ(pics.trendCharts[0].image(), upper);
    EXPECT_EQ(pics.trendCharts[1].image(), lower);
}

TEST(DrawTrendCharts, SingleRowScalesToThatRowAndDrawsNoPolyline) {
    Table one(21, 1);
    one.set(6, 0, Value(0.5));
    one.set(7, 0, Value(-0.2));
    one.set(8, 0, Value(0.7));
    const Canvas pic = drawn(trendState(one));
    EXPECT_EQ(labels(pic).first(), u"-0.2"_qs);
    EXPECT_EQ(labels(pic).last(), u"0.7"_qs);
    EXPECT_EQ(legend(pic), (QStringList{u"趋势值"_qs, u" 主队0.5"_qs, u" 客队-0.2"_qs, u" 实力差0.7"_qs}));
    const QRect plot = plotArea(pic);
    EXPECT_EQ(countColour(pic.image(), plot, colour::Red), 0);
    EXPECT_EQ(countColour(pic.image(), plot, colour::Blue), 0);
    EXPECT_EQ(countColour(pic.image(), plot, colour::Yellow), 0);
}

TEST(DrawTrendCharts, EqualValuesLieOnTheBottomLine) {
    Table same(21, 6);
    for (int i = 0; i < 6; ++i)
        for (int c = 6; c <= 8; ++c)
            same.set(c, i, Value(0.4));
    const Canvas pic = drawn(trendState(same));
    keepPicture(pic, QStringLiteral("trend-equal"));
    EXPECT_EQ(labels(pic), QStringList(8, u"0.4"_qs));
    const QRect plot = plotArea(pic);
    EXPECT_EQ(countColour(pic.image(), plot, colour::Yellow), 0);
    EXPECT_EQ(countColour(pic.image(), plot, colour::White), 0) << "zero line not at its value";
    const QPoint origin = pic.toPixel(0, 0);
    EXPECT_GT(countColour(pic.image(), QRect(origin.x() + 2, origin.y() - 1, 300, 3), colour::Yellow), 250);
}

TEST(DrawTrendCharts, WithoutSeriesTheLabelsRunFrom999Down) {
    const Canvas pic = drawn(trendState(Table()));
    keepPicture(pic, QStringLiteral("trend-empty"));
    EXPECT_EQ(labels(pic), (QStringList{u"999"_qs, u"713.57"_qs, u"428.14"_qs, u"142.71"_qs, u"-142.71"_qs,
                                        u"-428.14"_qs, u"-713.57"_qs, u"-999"_qs}));
    EXPECT_EQ(legend(pic), QStringList{u"趋势值"_qs});
    // With no polyline over it, the bottom grid line shows solid brown.
    const QPoint origin = pic.toPixel(0, 0);
    EXPECT_EQ(countColour(pic.image(), QRect(origin.x() + 1, origin.y(), 300, 1), colour::GridBrown), 300);
    // The zero line sits half-way up.
    const int zero = pic.toPixel(0, 2260.0 / 2).y();
    EXPECT_GT(countColour(pic.image(), QRect(origin.x() + 1, zero, 300, 1), colour::White), 50);
}

TEST(DrawTrendCharts, TopGridLineFollowsSinglePrecisionSums) {
    // Box heights in pixels where seven single-precision additions of PH / 7
    // end above PH (104, 106: top line dropped) or not (102, 105), and where
    // double precision would decide the other way.
    const auto gridLines = [](int pixels) {
        return labels(drawn(trendState(flatSeries(3)), pixels * 15.0)).size();
    };
    EXPECT_EQ(gridLines(104), 7);
    EXPECT_EQ(gridLines(106), 7);
    EXPECT_EQ(gridLines(102), 8);
    EXPECT_EQ(gridLines(105), 8);
    EXPECT_EQ(gridLines(200), 8) << "the design height";
}

TEST(DrawTrendCharts, NoPlotHeightStillEnds) {
    // 45 pixels leave an inner height of 41 * 15 = 615 twips, less than the
    // margins: no grid line. At 144 dpi, 72 pixels leave exactly the margins
    // (PH = 0), where adding PH / 7 never passes PH: the grid stops at eight.
    EXPECT_EQ(labels(drawn(trendState(flatSeries(3)), 45 * 15.0)).size(), 0);
    Canvas pic(PicTdWidth, 720, 144);
    ASSERT_EQ(pic.scaleHeight(), 680);
    drawTrendChart(trendState(flatSeries(3)), pic);
    EXPECT_EQ(labels(pic).size(), 8);
}

TEST(DrawTrendCharts, NonFiniteValuesStayOffThePicture) {
    Table bad = flatSeries(4);
    bad.set(6, 2, Value(std::numeric_limits<double>::infinity()));
    bad.set(7, 1, Value(std::numeric_limits<double>::quiet_NaN()));
    const Canvas pic = drawn(trendState(bad));
    EXPECT_EQ(legend(pic).size(), 4);
}
