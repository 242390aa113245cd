#include "app/GridView.h"
#include "app/MainLayout.h"
#include "app/PictureBox.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace chenglan;

namespace {

GridData sampleGrid() {
    GridData grid(4);
    grid.setFormat(QStringLiteral("联赛 |>时间 |<球队 |^盘口"));
    grid.setColumnWidth(0, 900);
    grid.setColumnWidth(2, 1400);
    for (const char *line : {"英超\t10-09\t曼联\t0", "英超\t10-10\t切尔西\t1", "德甲\t10-10\t拜仁\t2"})
        grid.addItem(QString::fromUtf8(line));
    grid.select(1, 0);
    grid.setCellBackColor(39168);
    grid.setCellForeColor(16777215);
    grid.select(2, 2);
    grid.setCellAlignment(6);
    grid.setRowHeight(1, 450);
    return grid;
}

} // namespace

TEST(LayoutRule, HeightsFollowTheOuterHeight) {
    MainLayout l;
    applyLayoutRule(l, 10800);
    EXPECT_EQ(l.matchList, (TwipsRect{0, 0, 6495, 9900}));
    EXPECT_EQ(l.trendCharts[0], (TwipsRect{6480, 3480, 7485, 3202.5}));
    EXPECT_EQ(l.trendCharts[1], (TwipsRect{6480, 6682.5, 7485, 3202.5}));
    EXPECT_EQ(l.similarList, (TwipsRect{13920, 720, 10000, 9165}));
    EXPECT_EQ(l.strengthPanel, MainLayout().strengthPanel);
    EXPECT_EQ(l.calendar, MainLayout().calendar);

    applyLayoutRule(l, 6000);
    EXPECT_EQ(l.matchList.height, 5100);
    EXPECT_EQ(l.trendCharts[0].height, 802.5);
    EXPECT_EQ(l.trendCharts[1].top, 4282.5);
    EXPECT_EQ(l.similarList.height, 4365);
}

TEST(LayoutRule, AStepThatWouldGiveANegativeHeightIsSkipped) {
    MainLayout l;
    applyLayoutRule(l, 10800);
    applyLayoutRule(l, 2000); // list 1100: the trend boxes would be negative
    EXPECT_EQ(l.matchList.height, 1100);
    EXPECT_EQ(l.trendCharts[0].height, 3202.5) << "kept";
    EXPECT_EQ(l.trendCharts[1].top, 6682.5);
    EXPECT_EQ(l.similarList.height, 365);
    applyLayoutRule(l, 500);
    EXPECT_EQ(l.matchList.height, 1100) << "kept";
}

TEST(Twips, ConvertAtTheLogicalDpi) {
    EXPECT_EQ(twipsToPixels(1440, 96), 96);
    EXPECT_EQ(twipsToPixels(6495, 96), 433);
    EXPECT_EQ(twipsToPixels(6495, 144), 650);
    EXPECT_DOUBLE_EQ(pixelsToTwips(96, 96), 1440);
    // Edges, not sizes, are rounded: boxes that touch in twips touch in pixels.
    const QRect upper = toPixels({6480, 3480, 7485, 3202.5}, 96, 96);
    const QRect lower = toPixels({6480, 6682.5, 7485, 3202.5}, 96, 96);
    EXPECT_EQ(lower.top(), upper.bottom() + 1);
}

TEST(GridModel, ShowsCaptionsTextsColoursAndAlignment) {
    GridModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setGrid(sampleGrid());
    ASSERT_EQ(model.rowCount(), 3);
    ASSERT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("时间 "));
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), QStringLiteral("曼联"));
    EXPECT_EQ(model.data(model.index(0, 0), Qt::BackgroundRole).value<QColor>(), QColor(0, 0x99, 0));
    EXPECT_EQ(model.data(model.index(0, 0), Qt::ForegroundRole).value<QColor>(), QColor(Qt::white));
    EXPECT_EQ(model.data(model.index(0, 1), Qt::TextAlignmentRole).value<Qt::Alignment>(),
              Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(model.data(model.index(0, 3), Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignCenter);
    EXPECT_EQ(model.data(model.index(1, 2), Qt::TextAlignmentRole).value<Qt::Alignment>(),
              Qt::AlignRight | Qt::AlignTop) << "a cell's own alignment wins";

    model.setCellBackColor(2, 1, 255);
    EXPECT_EQ(model.data(model.index(1, 1), Qt::BackgroundRole).value<QColor>(), QColor(Qt::red));
    model.setCellBackColor(9, 1, 255); // outside: ignored
}

TEST(GridView, AppliesWidthsHeightsMergingAndReportsClicks) {
    GridData grid = sampleGrid();
    grid.setMergeMode(2);
    grid.setMergeColumn(0, true);
    grid.setMergeColumn(1, true);
    GridView view(1, 3);
    view.resize(600, 300);
    view.setGrid(grid);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const double dx = view.logicalDpiX();
    const double dy = view.logicalDpiY();

    EXPECT_EQ(view.columnWidth(0), twipsToPixels(900, dx));
    EXPECT_EQ(view.columnWidth(1), twipsToPixels(GridView::DefaultColumnTwips, dx));
    EXPECT_EQ(view.rowHeight(0), twipsToPixels(450, dy));
    EXPECT_TRUE(view.isColumnHidden(3));
    EXPECT_EQ(view.rowSpan(0, 0), 2) << "英超 twice";
    EXPECT_EQ(view.rowSpan(1, 1), 2) << "10-10 twice";
    EXPECT_EQ(view.rowSpan(0, 2), 1);

    grid.setMergeMode(3); // merges in column 1 only where column 0 is merged too
    view.setGrid(grid);
    EXPECT_EQ(view.rowSpan(1, 1), 1);

    QSignalSpy clicked(&view, &GridView::cellClicked);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(view.model()->index(2, 2)).center());
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(clicked.first().at(0).toInt(), 3) << "grid row, the caption row being 0";
    EXPECT_EQ(clicked.first().at(1).toInt(), 2);
}

TEST(PictureBox, KeepsItsImageThroughResizes) {
    PictureBox box;
    box.resize(200, 100);
    QImage image(20, 10, QImage::Format_RGB32);
    image.fill(Qt::red);
    box.setImage(image);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    box.resize(300, 150);
    const QImage shot = box.grab().toImage();
    EXPECT_EQ(shot.pixelColor(QPoint(5, 5) * shot.devicePixelRatio()), QColor(Qt::red));
    EXPECT_EQ(shot.pixelColor(QPoint(50, 50) * shot.devicePixelRatio()), QColor(Qt::white)) << "beyond the image";
}

// A burst of arrow keys analyses the row it ends on, once, after the keys
// rest; Enter analyses at once. Up and Down move by record, past the second
// line of a two-line record.
TEST(GridView, ArrowKeysReportTheRowTheyRestOnOnceAndEnterAtOnce) {
    GridData grid(4);
    grid.setFormat(QStringLiteral("联赛 |时间 |球队 |key"));
    for (const char *line : {"英超\t10-09\t曼联\t0", "英超\t15:30\t利物浦\t0", "德甲\t10-10\t拜仁\t1",
                             "德甲\t20:00\t多特\t1", "意甲\t10-11\t米兰\t2", "意甲\t21:00\t尤文\t2"})
        grid.addItem(QString::fromUtf8(line));
    GridView view(1, 3);
    view.resize(600, 300);
    view.setGrid(grid);
    view.show();
    view.activateWindow();
    view.setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QSignalSpy reported(&view, &GridView::cellClicked);

    QTest::keyClick(&view, Qt::Key_Down); // onto the first record
    QTest::keyClick(&view, Qt::Key_Down);
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.currentIndex().row(), 4) << "the third record's first line";
    EXPECT_EQ(reported.count(), 0) << "not while the keys run";
    ASSERT_TRUE(QTest::qWaitFor([&] { return reported.count() == 1; }, 2000));
    QTest::qWait(2 * GridView::KeyRestMs);
    ASSERT_EQ(reported.count(), 1) << "a burst analyses once";
    EXPECT_EQ(reported.first().at(0).toInt(), 5);
    EXPECT_EQ(reported.first().at(1).toInt(), GridView::KeyboardColumn);

    QTest::keyClick(&view, Qt::Key_Up);
    EXPECT_EQ(view.currentIndex().row(), 2) << "the second record's first line";
    QTest::keyClick(&view, Qt::Key_Return);
    ASSERT_EQ(reported.count(), 2) << "Enter does not wait";
    EXPECT_EQ(reported.last().at(0).toInt(), 3);
    QTest::qWait(2 * GridView::KeyRestMs);
    EXPECT_EQ(reported.count(), 2) << "and the pending key is dropped";
}
