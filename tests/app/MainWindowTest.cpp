#include "app/MainWindow.h"
#include "app/GridView.h"
#include "app/PictureBox.h"
#include "model/GridFormats.h"
#include "support/SchedulePages.h"
#include "TestSite.h"

#include <QCalendarWidget>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include <gtest/gtest.h>

using namespace chenglan;
using namespace chenglan::testing;
using namespace chenglan::testing::schedule;

namespace {

const QString Odds = QStringLiteral("http://odds.test/");
const QString Jingcai = Odds + QStringLiteral("buy/Jingcai.aspx?TypeID=105&OddsType=2&date=");
const QString Beidan = Odds + QStringLiteral("buy/DanChang.aspx?typeID=5&issueNum");
const QDate Today(2022, 10, 20);

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        site.page(Jingcai, jingcaiPage(matchRow(QStringLiteral("100"), QStringLiteral("英超"), QStringLiteral("曼联"),
                                                QStringLiteral("利物浦"))));
        site.page(Jingcai + QStringLiteral("2022-10-9"),
                  jingcaiPage(matchRow(QStringLiteral("91"), QStringLiteral("德甲"), QStringLiteral("拜仁"),
                                       QStringLiteral("多特"), QString(), false, QStringLiteral("#ff0000"))
                              + matchRow(QStringLiteral("92"), QStringLiteral("意甲"), QStringLiteral("米兰"),
                                         QStringLiteral("尤文"))));
        site.page(Beidan, beidanPage(matchRow(QStringLiteral("7"), QStringLiteral("法甲"), QStringLiteral("巴黎"),
                                              QStringLiteral("马赛"), QStringLiteral("-1"))));
    }

    // A shown window whose Load has run and whose first list is on screen.
    std::unique_ptr<MainWindow> openWindow() {
        auto window = makeWindow();
        EXPECT_TRUE(waitForList(*window, 1));
        return window;
    }
    std::unique_ptr<MainWindow> makeWindow() {
        MainWindowSetup setup;
        setup.webs = site.factory();
        setup.sites.odds = Odds;
        setup.today = [] { return Today; };
        auto window = std::make_unique<MainWindow>(std::move(setup));
        spy = std::make_unique<QSignalSpy>(window.get(), &MainWindow::scheduleShown);
        window->show();
        return window;
    }
    bool waitForList(MainWindow &, int shown) {
        return QTest::qWaitFor([&] { return spy->count() >= shown; }, 20000);
    }
    static bool waitForWorkers(MainWindow &window) {
        return QTest::qWaitFor([&] { return window.jobs().runningWorkers() == 0; }, 20000);
    }
    static QStringList listedHomeTeams(const MainWindow &window) {
        QStringList teams;
        const GridData &grid = window.matchList()->grid();
        for (int r = 1; r < grid.rows(); ++r)
            teams << grid.text(r, 2);
        return teams;
    }

    TestSite site;
    std::unique_ptr<QSignalSpy> spy;
};

} // namespace

TEST_F(MainWindowTest, StartsWithTheCurrentDayAndAHiddenCalendar) {
    auto w = openWindow();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("澄岚竞彩 — 竞彩 2022-10-20"));
    EXPECT_EQ(site.requests(), QStringList{Jingcai});
    EXPECT_EQ(listedHomeTeams(*w), QStringList{QStringLiteral("曼联")});
    EXPECT_EQ(w->statusText(), QStringLiteral("今日竞彩赛程：共 1 场比赛。"));

    EXPECT_FALSE(w->calendar()->isVisible());
    EXPECT_EQ(w->calendar()->selectedDate(), Today);
    EXPECT_EQ(w->calendar()->maximumDate(), Today);
    EXPECT_EQ(w->calendar()->minimumDate(), QDate(2022, 1, 1));

    // The design's three commands lead the menu bar, as commands.
    QStringList menus;
    for (QAction *a : w->menuBar()->actions().mid(0, 3)) {
        menus << a->text();
        EXPECT_EQ(a->menu() != nullptr, a->text() == QStringLiteral("帮助")) << "commands, and the help menu";
    }
    EXPECT_EQ(menus, QStringList({QStringLiteral("胜平负竞彩"), QStringLiteral("北京单场"), QStringLiteral("完场查询")}));
    auto *button = w->findChild<QPushButton *>(QStringLiteral("trendButton"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("实力趋势"));
    EXPECT_EQ(button->parentWidget()->objectName(), QStringLiteral("commandStrip"));
}

TEST_F(MainWindowTest, ControlsSitAtTheirDesignPlaces) {
    auto w = openWindow();
    const double dx = w->logicalDpiX();
    const double dy = w->logicalDpiY();
    const MainLayout design;
    auto at = [&](const char *name) { return w->findChild<QWidget *>(QString::fromLatin1(name))->geometry(); };
    EXPECT_EQ(at("strengthPanel"), toPixels(design.strengthPanel, dx, dy));
    EXPECT_EQ(w->strengthPanel()->image().size(), toPixels(design.strengthPanel, dx, dy).size()) << "a blank canvas";
    EXPECT_EQ(at("commandStrip"), toPixels(design.commandStrip, dx, dy));
    EXPECT_EQ(at("trendButton"), toPixels(design.trendButton, dx, dy));
    EXPECT_EQ(at("calendar"), toPixels(design.calendar, dx, dy));
    EXPECT_EQ(at("matchList").topLeft(), QPoint(0, 0));
    EXPECT_EQ(at("matchList").width(), twipsToPixels(6495, dx));
    EXPECT_EQ(at("trendChart0").top(), twipsToPixels(3480, dy));
    EXPECT_EQ(at("similarList").top(), twipsToPixels(720, dy));
}

TEST_F(MainWindowTest, LayoutFollowsTheWindowHeightOnly) {
    auto w = openWindow();
    const double dx = w->logicalDpiX();
    const double dy = w->logicalDpiY();
    for (const QSize size : {QSize(1650, 700), QSize(1400, 950)}) {
        w->resize(size);
        const int outer = w->frameGeometry().height() - w->statusBar()->height();
        const double expected = pixelsToTwips(outer, dy) - 900;
        ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(w->layoutTwips().matchList.height - expected) < 1e-6; }, 5000))
            << size.height();
        const MainLayout &l = w->layoutTwips();
        EXPECT_DOUBLE_EQ(l.trendCharts[0].height, (l.matchList.height - 3495) / 2);
        EXPECT_DOUBLE_EQ(l.trendCharts[1].height, l.trendCharts[0].height);
        EXPECT_DOUBLE_EQ(l.trendCharts[1].top, 3480 + l.trendCharts[0].height);
        EXPECT_DOUBLE_EQ(l.similarList.height, l.matchList.height - 735);

        EXPECT_EQ(w->matchList()->geometry(), toPixels(l.matchList, dx, dy));
        EXPECT_EQ(w->trendBox(1)->geometry().top(), w->trendBox(0)->geometry().bottom() + 1) << "the trend boxes touch";
        EXPECT_EQ(w->similarList()->geometry(), toPixels(l.similarList, dx, dy));
        EXPECT_EQ(w->matchList()->width(), twipsToPixels(6495, dx)) << "widths never change";
        EXPECT_LE(w->matchList()->geometry().bottom(), w->centralWidget()->height()) << "nothing under the status bar";
        for (int i = 0; i < 2; ++i)
            EXPECT_NEAR(w->trendBox(i)->image().height(), w->trendBox(i)->height(), 1) << "the canvas follows its box";
    }
}

TEST_F(MainWindowTest, PickingADayListsItAndHidesTheCalendar) {
    auto w = openWindow();
    w->toggleCalendar();
    EXPECT_TRUE(w->calendar()->isVisible());
    w->showCalendarDay(QDate(2022, 10, 9));
    EXPECT_FALSE(w->calendar()->isVisible());
    ASSERT_TRUE(waitForList(*w, 2));

    EXPECT_EQ(site.requests().last(), Jingcai + QStringLiteral("2022-10-9"));
    EXPECT_EQ(w->state().selectedDate, Value(QStringLiteral("2022-10-9")));
    EXPECT_EQ(listedHomeTeams(*w), QStringList({QStringLiteral("拜仁"), QStringLiteral("米兰")}));
    EXPECT_EQ(w->matchList()->grid().cell(1, 0).backColor, 255);
    EXPECT_EQ(w->statusText(), QStringLiteral("2022-10-09 竞彩赛程：共 2 场比赛。"));

    w->showJingcaiSchedule();
    ASSERT_TRUE(waitForList(*w, 3));
    EXPECT_EQ(site.requests().last(), Jingcai) << "the current day again";
    EXPECT_EQ(w->state().selectedDate, Value(QString()));
}

TEST_F(MainWindowTest, BeidanLeavesThePickedDayAndADatePickListsJingcaiAgain) {
    auto w = openWindow();
    w->showCalendarDay(QDate(2022, 10, 9));
    ASSERT_TRUE(waitForList(*w, 2));
    w->showBeidanSchedule();
    ASSERT_TRUE(waitForList(*w, 3));
    EXPECT_EQ(site.requests().last(), Beidan);
    EXPECT_EQ(w->state().selectedDate, Value(QStringLiteral("2022-10-9")));
    EXPECT_EQ(w->matchList()->grid().text(1, 5), QStringLiteral("半球 (-1)"));
    EXPECT_EQ(w->statusText(), QStringLiteral("北京单场赛程：共 1 场比赛。"));

    w->showCalendarDay(QDate(2022, 10, 9));
    ASSERT_TRUE(waitForList(*w, 4));
    EXPECT_EQ(site.requests().last(), Jingcai + QStringLiteral("2022-10-9"));
    EXPECT_EQ(listedHomeTeams(*w).size(), 2);
}

TEST_F(MainWindowTest, ADatePickCancelsTheRunningScrape) {
    site.hold(Jingcai);
    auto w = makeWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return site.waiting() == 1; }, 20000));
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("正在读取今日竞彩赛程")));

    w->showCalendarDay(QDate(2022, 10, 9));
    ASSERT_TRUE(waitForList(*w, 1));
    ASSERT_TRUE(waitForWorkers(*w));
    QCoreApplication::processEvents();

    EXPECT_EQ(site.aborted(), 1) << "the held fetch was aborted, not left to run";
    EXPECT_EQ(spy->count(), 1) << "the cancelled scrape's list is never shown";
    EXPECT_EQ(listedHomeTeams(*w), QStringList({QStringLiteral("拜仁"), QStringLiteral("米兰")}));
    EXPECT_EQ(w->schedule().matchTable.rows(), 2);
    EXPECT_EQ(w->statusText(), QStringLiteral("2022-10-09 竞彩赛程：共 2 场比赛。"));
}

TEST_F(MainWindowTest, AServerThatIsDownEmptiesTheListAndSaysWhy) {
    auto w = openWindow();
    ASSERT_EQ(listedHomeTeams(*w).size(), 1);
    site.setDown(true);
    w->showCalendarDay(QDate(2022, 10, 9));
    ASSERT_TRUE(waitForList(*w, 2));

    EXPECT_TRUE(listedHomeTeams(*w).isEmpty()) << "never the previous day's matches";
    EXPECT_EQ(w->schedule().matchTable.rows(), 0);
    EXPECT_EQ(w->statusText(), QStringLiteral("2022-10-09 竞彩赛程读取失败：连不上赔率网站，列表已清空。"));
    EXPECT_TRUE(w->findChild<QLabel *>(QStringLiteral("status"))->toolTip().contains(QStringLiteral("Connection refused")))
        << "the details on hovering";
}

TEST_F(MainWindowTest, AListClickHighlightsTheTeamCellAndChoosesTheMatch) {
    auto w = openWindow();
    w->showCalendarDay(QDate(2022, 10, 9));
    ASSERT_TRUE(waitForList(*w, 2));
    EXPECT_TRUE(w->matchList()->isColumnHidden(MatchListKeyColumn));

    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    w->analyzeListedMatch(2, 3);
    EXPECT_EQ(w->matchList()->grid().cell(2, 3).backColor, MainWindow::HighlightColor) << "at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return analysed.count() == 1; }, 20000));
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("分析页面读取失败：连不上分析网站；")))
        << "this site has no analysis pages: " << w->statusText().toStdString();
    EXPECT_EQ(w->state().listRowKey, Value(QStringLiteral("1")));
    EXPECT_EQ(w->state().listMatchId, Value(92.0));
    EXPECT_EQ(w->state().currentMatchId, Value(92.0));

    w->analyzeListedMatch(1, 6);
    EXPECT_EQ(w->matchList()->grid().cell(1, 2).backColor, MainWindow::HighlightColor) << "any other column: home team";
    ASSERT_TRUE(QTest::qWaitFor([&] { return analysed.count() == 2; }, 20000));
    EXPECT_NE(w->matchList()->grid().cell(2, 3).backColor, MainWindow::HighlightColor) << "one current match";
    EXPECT_EQ(w->state().listMatchId, Value(91.0));

    w->showHandicapChanges();
    EXPECT_EQ(w->state().currentMatchId, Value(91.0));
}

TEST_F(MainWindowTest, AListClickDuringAScrapeLeavesItRunning) {
    auto w = openWindow();
    site.hold(Jingcai + QStringLiteral("2022-10-9"));
    w->showCalendarDay(QDate(2022, 10, 9));
    ASSERT_TRUE(QTest::qWaitFor([&] { return site.waiting() == 1; }, 20000));
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return analysed.count() == 1; }, 20000));
    EXPECT_EQ(w->state().listMatchId, Value(100.0)) << "the match of the list that was clicked";
    EXPECT_EQ(w->state().selectedDate, Value(QStringLiteral("2022-10-9"))) << "the day the list asks for stays";
    site.release(Jingcai + QStringLiteral("2022-10-9"));
    ASSERT_TRUE(waitForWorkers(*w));
    QCoreApplication::processEvents();

    EXPECT_EQ(site.aborted(), 0) << "the scrape was not dropped";
    EXPECT_EQ(spy->count(), 2) << "the picked day's list arrives";
}

// The design is wider and higher than a laptop screen: the window opens
// inside the available area, and a window narrower than the design keeps
// the similar list and the command strip inside it.
TEST_F(MainWindowTest, OpensWithinTheScreenWithEveryBoxInReach) {
    auto w = openWindow();
    const QRect available = w->screen()->availableGeometry();
    EXPECT_LE(w->frameGeometry().width(), available.width());
    EXPECT_LE(w->frameGeometry().height(), available.height());

    w->resize(1300, 700);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->width() == 1300; }, 5000));
    const int inner = w->centralWidget()->width();
    EXPECT_EQ(w->similarList()->geometry().right(), inner - 1);
    EXPECT_EQ(w->findChild<QWidget *>(QStringLiteral("commandStrip"))->geometry().right(), inner - 1);
    EXPECT_EQ(w->similarList()->geometry().left(), twipsToPixels(13920, w->logicalDpiX())) << "the left stays";
}

// The calendar closes as a popup does, on Esc and on a press outside it; a
// press on its own parts, which they pass on to the widgets under them,
// leaves it open.
TEST_F(MainWindowTest, TheCalendarClosesOnEscapeAndOnAPressOutsideIt) {
    auto w = openWindow();
    w->toggleCalendar();
    QTest::keyClick(w->matchList(), Qt::Key_Escape);
    EXPECT_FALSE(w->calendar()->isVisible());

    w->toggleCalendar();
    QTest::mouseClick(w->calendar()->findChild<QWidget *>(QStringLiteral("qt_calendar_navigationbar")), Qt::LeftButton,
                      {}, QPoint(2, 2));
    EXPECT_TRUE(w->calendar()->isVisible());
    QTest::mouseClick(w->strengthPanel(), Qt::LeftButton);
    EXPECT_FALSE(w->calendar()->isVisible());
}
