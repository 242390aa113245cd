#include "ChartSamples.h"

#include "charts/ChartPictures.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace chenglan;
using namespace chenglan::testing;
using namespace Qt::Literals::StringLiterals;

TEST(Canvas, SizesFollowTheDpi) {
    const ChartPictures pics = ChartPictures::make();
    EXPECT_EQ(pics.strengthPanel.image().size(), QSize(497, 233));
    EXPECT_EQ(pics.trendCharts[0].image().size(), QSize(499, 200));
    EXPECT_EQ(pics.strengthPanel.width(), PicSrWidth);
    // The inner area is the box less its 2-pixel border on each side.
    EXPECT_EQ(pics.strengthPanel.scaleWidth(), (497 - 4) * 15);
    EXPECT_EQ(pics.strengthPanel.scaleHeight(), (233 - 4) * 15);

    const Canvas large(PicSrWidth, PicSrHeight, 120);
    EXPECT_EQ(large.image().size(), QSize(621, 291));
    EXPECT_EQ(large.scaleWidth(), (621 - 4) * 12);
    EXPECT_NEAR(large.image().dotsPerMeterX() * 0.0254, 120, 0.05);
}

TEST(Canvas, TheBorderTakesTheOuterTwoPixelsAndLeavesNoLineWhenTheBoxGrows) {
    Canvas pic(7485, 3000);
    const QImage &before = pic.image();
    const int w = before.width();
    const int h = before.height();
    EXPECT_EQ(before.pixelColor(w / 2, h - 1), QColor(255, 255, 255)) << "outer light ring";
    EXPECT_EQ(before.pixelColor(w / 2, h - 2), QColor(212, 208, 200)) << "inner light ring";
    EXPECT_EQ(before.pixelColor(w - 1, h / 2), QColor(255, 255, 255));
    EXPECT_EQ(before.pixelColor(w / 2, h - 3), QColor(255, 255, 255)) << "inner area, white";

    pic.resize(7485, 4500);
    const QImage &after = pic.image();
    EXPECT_EQ(countColour(after, QRect(2, 2, after.width() - 4, after.height() - 4), colour::White),
              (after.width() - 4) * (after.height() - 4))
        << "the old bottom edge must not stay inside the grown box";
}

TEST(Canvas, UserScaleMapsItsCornersToTheInnerArea) {
    Canvas pic(7485, 3000);
    pic.scale(-540, 2600, 6885, -340);
    EXPECT_EQ(pic.scaleWidth(), 7425);
    EXPECT_EQ(pic.scaleHeight(), -2940);
    EXPECT_EQ(pic.toPixel(-540, 2600), QPoint(2, 2));
    EXPECT_EQ(pic.toPixel(6885, -340), QPoint(2 + 495, 2 + 196));
    EXPECT_EQ(pic.toPixel(0, 0), QPoint(2 + 36, 2 + 173));
    EXPECT_THROW(pic.scale(0, 0, 0, 10), StepFailure);
    EXPECT_EQ(pic.scaleLeft(), -540) << "a refused scale keeps the old one";
}

TEST(Canvas, PrintPlacesTheTopLeftAndMovesToTheNextLine) {
    Canvas pic(3000, 3000);
    pic.setFontSize(13);
    pic.moveTo(150, 400);
    pic.printInline(u"主队:"_qs);
    EXPECT_EQ(pic.currentY(), 400);
    EXPECT_NEAR(pic.currentX(), 150 + pic.textWidth(u"主队:"_qs), 1e-9);
    pic.print(u"胜平"_qs);
    EXPECT_EQ(pic.currentX(), 0);
    EXPECT_EQ(pic.currentY(), 400 + 17 * 15) << "13 points are 17 pixels at 96 dpi";
    ASSERT_EQ(pic.texts().size(), 2);
    EXPECT_EQ(pic.texts()[0].pixel, QPoint(2 + 10, 2 + 27));
    EXPECT_EQ(pic.texts()[1].position.x(), pic.texts()[0].position.x() + pic.textWidth(u"主队:"_qs));

    // The glyphs start at the top of the em box, not a quarter of a line lower
    // as the font's ascent would put them.
    const QImage &img = pic.image();
    const int top = pic.texts()[0].pixel.y();
    EXPECT_EQ(countColour(img, QRect(2, 2, 150, top - 2), colour::White), 150 * (top - 2));
    EXPECT_LT(countColour(img, QRect(2, top, 150, 3), colour::White), 150 * 3 - 20);

    // Upward coordinates: the next line is still further down the picture.
    pic.scale(0, 100, 100, 0);
    pic.moveTo(10, 90);
    pic.print(u"x"_qs);
    EXPECT_LT(pic.currentY(), 90);
}

TEST(Canvas, FilledBoxCoversTextsAndClearForgetsThem) {
    Canvas pic(7455, 3495);
    pic.setFontSize(13);
    pic.moveTo(150, 400);
    pic.print(u"上面"_qs);
    pic.moveTo(150, 2000);
    pic.print(u"下面"_qs);
    pic.fillBox(0, 1800, 8000, 5500, colour::White);
    EXPECT_EQ(pic.textStrings(), QStringList{u"上面"_qs});
    EXPECT_EQ(countColour(pic.image(), QRect(2, pic.toPixel(0, 1800).y(), 493, 100), colour::White), 493 * 100);
    pic.clear();
    EXPECT_TRUE(pic.texts().isEmpty());
    EXPECT_EQ(pic.currentX(), 0);
    EXPECT_EQ(pic.currentY(), 0);
}

TEST(Canvas, DottedLinesOnlyAtOnePixel) {
    Canvas pic(3000, 1500);
    pic.setLineStyle(Canvas::LineStyle::Dotted);
    pic.line(0, 300, 2000, 300, colour::Red);
    const int y = pic.toPixel(0, 300).y();
    const int dots = countColour(pic.image(), QRect(2, y, 120, 1), colour::Red);
    EXPECT_GT(dots, 20);
    EXPECT_LT(dots, 100);
    pic.setLineWidth(2);
    pic.line(0, 900, 2000, 900, colour::Red);
    const int y2 = pic.toPixel(0, 900).y();
    EXPECT_EQ(countColour(pic.image(), QRect(5, y2 - 2, 100, 5), colour::Red), 200);
    EXPECT_THROW(pic.setLineWidth(0), StepFailure);
}

TEST(Canvas, ResizeKeepsTheDrawingAndReturnsToTwips) {
    Canvas pic(3000, 1500);
    pic.setBackColour(colour::Black);
    pic.clear();
    pic.scale(0, 100, 100, 0);
    pic.resize(3000, 3000);
    EXPECT_EQ(pic.scaleHeight(), (200 - 4) * 15);
    EXPECT_EQ(pic.image().pixel(50, 50) & 0xFFFFFF, 0u) << "old drawing kept";
    EXPECT_EQ(pic.image().pixel(50, 150) & 0xFFFFFF, 0u) << "new area in the back colour";
}

TEST(Canvas, WritesThePngItShows) {
    ChartPictures pics = ChartPictures::make();
    pics.strengthPanel.moveTo(150, 50);
    pics.strengthPanel.print(u"澄岚"_qs);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"PIC_SR.png"_qs);
    ASSERT_TRUE(pics.strengthPanel.writePng(path));
    QImage read(path);
    EXPECT_EQ(read.convertToFormat(QImage::Format_RGB32), pics.strengthPanel.image());

    const QJsonArray json = drawnTextsJson(pics.strengthPanel);
    ASSERT_EQ(json.size(), 1);
    EXPECT_EQ(json[0][u"text"_qs].toString(), u"澄岚"_qs);
    EXPECT_EQ(json[0][u"x"_qs].toDouble(), 150);
    EXPECT_EQ(json[0][u"py"_qs].toInt(), 5);
}
