// What a bettor relies on in the window: commands of different kinds never
// drop each other, the ticked server is the one in use, nothing is shown that
// was not computed, a failed click shows nothing and can be retried, one row
// is the current match, pictures follow their boxes, and the status bar
// speaks Chinese.
#include "app/MainWindow.h"
#include "app/GridView.h"
#include "app/PictureBox.h"
#include "app/WindowOptions.h"
#include "model/GridFormats.h"
#include "Gate.h"
#include "SampleServers.h"
#include "SampleWindow.h"

#include <QAction>
#include <QCommandLineParser>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace chenglan;
using namespace chenglan::testing;

namespace {

const QString AnalysisPage = QStringLiteral("analysis/%1cn.htm");
const QString BeidanPage = QStringLiteral("DanChang");
const QString ServerLink = QStringLiteral("servers/link(");
const QString HandicapPage = QStringLiteral("handicap.aspx");

class WindowTrustTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { servers = new SampleServers; }
    static void TearDownTestSuite() {
        delete servers;
        servers = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(servers->ok()) << servers->error().toStdString(); }

    static bool waitFor(QSignalSpy &spy, int count) {
        return QTest::qWaitFor([&] { return spy.count() >= count; }, 60000);
    }
    static bool settle(MainWindow &w) {
        const bool ended = QTest::qWaitFor([&] { return w.jobs().runningWorkers() == 0; }, 60000);
        QCoreApplication::processEvents();
        return ended;
    }
    static Value matchId(const MainWindow &w, int gridRow) {
        return w.schedule().matchTable.at(0, w.matchList()->grid().text(gridRow, MatchListKeyColumn).toInt());
    }
    static QString page(const MainWindow &w, int gridRow) { return AnalysisPage.arg(matchId(w, gridRow).text()); }
    static int highlighted(const GridView *view) {
        int rows = 0;
        const GridData &grid = view->grid();
        for (int r = 1; r < grid.rows(); ++r)
            for (int c = 0; c < grid.columns(); ++c)
                if (grid.cell(r, c).backColor == MainWindow::HighlightColor) {
                    ++rows;
                    break;
                }
        return rows;
    }
    static QStringList allTexts(const ChartPictures &p) {
        return p.strengthPanel.textStrings() + p.trendCharts[0].textStrings() + p.trendCharts[1].textStrings();
    }

    static SampleServers *servers;
};

SampleServers *WindowTrustTest::servers = nullptr;

// Fault 1: a server lookup, the handicap command and a list click each left
// the analysis or the list they met alone, or dropped it silently.
TEST_F(WindowTrustTest, CommandsOfOtherKindsNeverDropARunningOne) {
    Gate gate;
    auto w = openSampleWindow(servers->sites(), gate.factory());
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    QSignalSpy chosen(w.get(), &MainWindow::serverSlotShown);

    // A server lookup while a match is analysed.
    gate.hold(page(*w, 1));
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.waiting() == 1; }, 60000));
    w->serverSlotOption(1)->click();
    ASSERT_TRUE(waitFor(chosen, 1));
    EXPECT_EQ(gate.aborted(), 0) << "the analysis runs on";

    // 实力趋势 while it still runs: waits, then reads the match analysed.
    w->showHandicapChanges();
    const int requestsBefore = gate.requests();
    gate.release(page(*w, 1));
    ASSERT_TRUE(waitFor(analysed, 2)) << w->statusText().toStdString();
    ASSERT_TRUE(settle(*w));
    EXPECT_EQ(gate.aborted(), 0);
    EXPECT_GT(gate.requests(), requestsBefore);
    EXPECT_EQ(w->state().listMatchId, matchId(*w, 1)) << "the analysis is shown";
    EXPECT_EQ(w->state().currentMatchId, matchId(*w, 1)) << "the handicap of the match shown";
    EXPECT_FALSE(w->state().handicapSummary.at(1, 0).isEmpty());
    EXPECT_GT(w->state().trendSeries.rows(), 0);

    // A click before the Beidan list arrives: the list still comes.
    QSignalSpy listed(w.get(), &MainWindow::scheduleShown);
    gate.hold(BeidanPage);
    w->showBeidanSchedule();
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.waiting() == 1; }, 60000));
    w->analyzeListedMatch(2, 2);
    ASSERT_TRUE(waitFor(analysed, 3));
    gate.release(BeidanPage);
    ASSERT_TRUE(waitFor(listed, 1));
    EXPECT_EQ(gate.aborted(), 0);
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("北京单场赛程"))) << w->statusText().toStdString();

    // Within a lane the newer command wins, and the status bar says so.
    gate.hold(page(*w, 1));
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.waiting() == 1; }, 60000));
    QSignalSpy cancelled(&w->jobs(), &JobRunner::cancelled);
    gate.hold(page(*w, 2));
    w->analyzeListedMatch(2, 2);
    ASSERT_EQ(cancelled.count(), 1);
    EXPECT_TRUE(w->statusText().contains(QStringLiteral("已取消"))) << w->statusText().toStdString();
    gate.release(page(*w, 2));
    ASSERT_TRUE(settle(*w));
}

// Fault 2: the option turned red at once while queries still went to the old
// address, and a click dropped the lookup.
TEST_F(WindowTrustTest, TheTickedServerIsAlwaysTheOneInUse) {
    Gate gate;
    auto w = openSampleWindow(servers->sites(), gate.factory());
    QSignalSpy chosen(w.get(), &MainWindow::serverSlotShown);
    for (int slot = 0; slot < ServerSlotCount; ++slot)
        EXPECT_FALSE(w->serverSlotOption(slot)->isChecked()) << "the configured address is no slot";

    w->serverSlotOption(0)->click();
    ASSERT_TRUE(waitFor(chosen, 1));
    ASSERT_EQ(w->selectedServerSlot(), 0);
    const QString inUse = w->sites().service;

    gate.hold(ServerLink);
    w->serverSlotOption(1)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.waiting() == 1; }, 60000));
    EXPECT_EQ(w->pendingServerSlot(), 1);
    EXPECT_TRUE(w->serverSlotOption(0)->isChecked()) << "still the one in use";
    EXPECT_FALSE(w->serverSlotOption(1)->isChecked());
    EXPECT_NE(w->serverSlotOption(1)->text(), serverSlotCaption(1)) << "shown pending";
    // A click meanwhile does not drop the lookup.
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 1));
    EXPECT_EQ(gate.aborted(), 0);
    EXPECT_EQ(w->pendingServerSlot(), 1);

    // The lookup fails: the slot in use stays ticked, visibly.
    gate.fail(ServerLink);
    gate.release(ServerLink);
    ASSERT_TRUE(waitFor(chosen, 2));
    EXPECT_EQ(w->selectedServerSlot(), 0);
    EXPECT_EQ(w->sites().service, inUse);
    EXPECT_TRUE(w->serverSlotOption(0)->isChecked());
    EXPECT_FALSE(w->serverSlotOption(1)->isChecked());
    EXPECT_EQ(w->serverSlotOption(1)->text(), serverSlotCaption(1));
    EXPECT_TRUE(w->statusText().contains(serverSlotCaption(1))) << w->statusText().toStdString();
    ASSERT_TRUE(settle(*w));
}

// Fault 3: histories too short for a trend gave a verdict from eight zeros,
// axes from -999 to 999 and thirty "similar" matches of a query of zeros; on
// a day where one pair forms (too few for a fit) every strength was 0.00 and
// the status said 分析完成.
TEST_F(WindowTrustTest, AHistoryTooShortForATrendShowsNoInventedResult) {
    auto w = openSampleWindow(servers->sites(), WebFactory([] { return std::make_unique<QtWeb>(); }));
    QSignalSpy listed(w.get(), &MainWindow::scheduleShown);
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    int clicks = 0;
    for (const QDate day : {QDate(2022, 4, 1), QDate(2022, 1, 1)}) {
        SCOPED_TRACE(day.toString(Qt::ISODate).toStdString());
        w->showCalendarDay(day);
        ASSERT_TRUE(waitFor(listed, listed.count() + 1));
        w->analyzeListedMatch(1, 2);
        ASSERT_TRUE(waitFor(analysed, ++clicks));

        EXPECT_FALSE(w->statusText().startsWith(QStringLiteral("分析完成"))) << w->statusText().toStdString();
        EXPECT_TRUE(w->statusText().contains(QStringLiteral("实力趋势"))) << w->statusText().toStdString();
        EXPECT_TRUE(w->state().similarQuery.isEmpty()) << "nothing asked of the data service";
        EXPECT_EQ(w->similarList()->grid().rows(), 1) << "no similar match listed";
        EXPECT_EQ(w->state().similarMatches.rows(), 0);
        const QStringList texts = allTexts(w->pictures());
        ASSERT_EQ(texts.size(), 1) << texts.join(u'|').toStdString();
        EXPECT_TRUE(w->statusText().startsWith(texts.first())) << "one line that says why";
    }
}

// Fault 4: with the site down, a click painted the zero panel and the ±999
// charts over the analysis shown.
TEST_F(WindowTrustTest, AFailedClickShowsNothingSaysWhyAndCanBeRetried) {
    Gate gate;
    auto w = openSampleWindow(servers->sites(), gate.factory());
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 1));
    ASSERT_GT(allTexts(w->pictures()).size(), 3);
    EXPECT_FALSE(w->retryAction()->isEnabled());

    gate.fail(page(*w, 2));
    w->analyzeListedMatch(2, 2);
    ASSERT_TRUE(waitFor(analysed, 2));
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("分析页面读取失败"))) << w->statusText().toStdString();
    EXPECT_TRUE(w->statusDetail().contains(QStringLiteral("refused"))) << "the cause in the detail";
    const QStringList texts = allTexts(w->pictures());
    EXPECT_EQ(texts.size(), 1) << texts.join(u'|').toStdString();
    EXPECT_EQ(w->similarList()->grid().rows(), 1);
    EXPECT_TRUE(w->retryAction()->isEnabled());
    EXPECT_EQ(w->retryAction()->shortcut(), QKeySequence(Qt::Key_F5));

    gate.heal();
    w->retryAction()->trigger();
    ASSERT_TRUE(waitFor(analysed, 3));
    EXPECT_EQ(w->state().listMatchId, matchId(*w, 2));
    EXPECT_GT(w->state().trendSeries.rows(), 0);
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("分析完成"))) << w->statusText().toStdString();
    EXPECT_FALSE(w->retryAction()->isEnabled());
}

// Fault 5: after a resize the charts stayed cropped slices, and charts drawn
// afterwards lost their top label and grid line.
TEST_F(WindowTrustTest, PicturesAreDrawnAgainAtTheirBoxesNewSize) {
    auto w = openSampleWindow(servers->sites(), WebFactory([] { return std::make_unique<QtWeb>(); }));
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 1));
    const QSize original = w->size();
    const QImage drawn = w->pictures().trendCharts[0].image();
    const auto legend = [&] {
        QStringList lines;
        for (const QString &text : allTexts(w->pictures()))
            if (text.startsWith(QStringLiteral("实力")))
                lines << text;
        return lines;
    };
    const QStringList captions = legend();
    ASSERT_EQ(captions.size(), 2);

    w->resize(800, 500);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->trendBox(0)->height() != drawn.height(); }, 5000));
    for (int i = 0; i < 2; ++i) {
        EXPECT_LE(std::abs(w->pictures().trendCharts[i].image().height() - w->trendBox(i)->height()), 1) << i;
        EXPECT_EQ(w->trendBox(i)->image(), w->pictures().trendCharts[i].image()) << i;
    }
    EXPECT_EQ(legend(), captions) << "drawn again with their legend";
    // What a click at this size draws, the top label and grid line included.
    const QImage redrawn = w->pictures().trendCharts[0].image();
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 2));
    EXPECT_EQ(w->pictures().trendCharts[0].image(), redrawn);

    w->resize(original);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->height() == original.height(); }, 5000));
    QCoreApplication::processEvents();
    for (int i = 0; i < 2; ++i)
        EXPECT_LE(std::abs(w->pictures().trendCharts[i].image().height() - w->trendBox(i)->height()), 1) << i;
    EXPECT_EQ(legend(), captions);
}

// Fault 6: every clicked row stayed highlighted, and a new list kept the
// scroll position of the old one.
TEST_F(WindowTrustTest, OneRowIsTheCurrentMatchAndANewListStartsAtTheTop) {
    auto w = openSampleWindow(servers->sites(), WebFactory([] { return std::make_unique<QtWeb>(); }));
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    const GridData fresh = w->matchList()->grid();
    w->analyzeListedMatch(1, 2);
    w->analyzeListedMatch(2, 3);
    ASSERT_TRUE(waitFor(analysed, 1));
    ASSERT_TRUE(settle(*w));
    EXPECT_EQ(highlighted(w->matchList()), 1);
    EXPECT_EQ(w->matchList()->grid().cell(2, 3).backColor, MainWindow::HighlightColor);
    EXPECT_EQ(w->matchList()->grid().cell(1, 2).backColor, fresh.cell(1, 2).backColor) << "its own colour back";

    ASSERT_GT(w->similarList()->grid().rows(), 6);
    w->analyzeSimilarMatch(1, 2);
    w->analyzeSimilarMatch(5, 2);
    ASSERT_TRUE(settle(*w));
    EXPECT_EQ(highlighted(w->similarList()), 1);

    w->matchList()->verticalScrollBar()->setValue(w->matchList()->verticalScrollBar()->maximum());
    w->matchList()->horizontalScrollBar()->setValue(w->matchList()->horizontalScrollBar()->maximum());
    QSignalSpy listed(w.get(), &MainWindow::scheduleShown);
    w->showJingcaiSchedule();
    ASSERT_TRUE(waitFor(listed, 1));
    EXPECT_EQ(highlighted(w->matchList()), 0);
    EXPECT_EQ(w->matchList()->verticalScrollBar()->value(), 0);
    EXPECT_EQ(w->matchList()->horizontalScrollBar()->value(), 0);
}

// Fault 7: step initialisms, English errors and milliseconds in the status
// bar. Every sentence the window shows is Chinese; the detail is the tooltip.
TEST_F(WindowTrustTest, TheStatusBarSpeaksChineseAndKeepsTheDetailForTheTooltip) {
    Gate gate;
    auto w = openSampleWindow(servers->sites(), gate.factory());
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    QStringList shown;
    QObject::connect(&w->jobs(), &JobRunner::status, w.get(), [&] { shown << w->statusText(); });
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 1));
    shown << w->statusText();
    gate.fail(page(*w, 2));
    w->analyzeListedMatch(2, 2);
    ASSERT_TRUE(waitFor(analysed, 2));
    shown << w->statusText();
    EXPECT_FALSE(w->statusDetail().isEmpty());
    gate.fail(ServerLink);
    QSignalSpy chosen(w.get(), &MainWindow::serverSlotShown);
    w->serverSlotOption(2)->click();
    ASSERT_TRUE(waitFor(chosen, 1));
    shown << w->statusText();

    // Latin words may only be addresses and team names are Chinese here.
    const QRegularExpression latinWord(QStringLiteral("(?<![/:.\\w])[A-Za-z]{2,}(?![\\w:/.])"));
    for (QString sentence : std::as_const(shown)) {
        sentence.remove(QRegularExpression(QStringLiteral("https?://\\S+")));
        EXPECT_FALSE(latinWord.match(sentence).hasMatch()) << sentence.toStdString();
    }
}

// The window took any site override as given; it now refuses what the
// command line refuses, with the same message.
TEST(WindowOptionsTest, SiteOverridesAreCheckedAsTheCommandLineChecksThem) {
    QCommandLineParser parser;
    addSiteOptions(parser);
    ASSERT_TRUE(parser.parse({QStringLiteral("chenglan"), QStringLiteral("--service"), QStringLiteral("ftp://x/"),
                              QStringLiteral("--odds-site"), QStringLiteral("http://127.0.0.1:1/odds/")}));
    QString error;
    const MainWindowSetup setup = windowSetup(parser, &error);
    EXPECT_EQ(error, siteOverrideProblem("service", QStringLiteral("ftp://x/")));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(setup.sites.service, SiteBases().service) << "the refused address is not used";
    EXPECT_EQ(setup.sites.odds, QStringLiteral("http://127.0.0.1:1/odds/"));
}

} // namespace
