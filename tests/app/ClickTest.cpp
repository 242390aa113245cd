// Whole clicks in the window against the sample site and the data service:
// what the list click, the similar click and the commands of the command
// strip show, and that the command line comes to the same state.
#include "app/MainWindow.h"
#include "support/CacheIsolation.h"
#include "app/GridView.h"
#include "app/PictureBox.h"
#include "model/GridFormats.h"
#include "usecases/MatchClicks.h"
#include "net/QtWeb.h"
#include "net/ReplayWeb.h"
#include "SampleServers.h"
#include "Gate.h"
#include "SampleWindow.h"
#include "TestSite.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace chenglan;
using namespace chenglan::testing;

namespace {

WebFactory network() {
    return []() -> std::unique_ptr<Web> { return std::make_unique<QtWeb>(); };
}

struct CliRun {
    int exitCode = -1;
    QJsonObject json;
    QString errors;
};

CliRun runCli(const QStringList &arguments) {
    QProcess process;
    process.start(QStringLiteral(CHENGLAN_CLI), arguments);
    CliRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        run.errors = QStringLiteral("did not finish");
        return run;
    }
    run.exitCode = process.exitCode();
    run.json = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The state part of a list click's JSON: what the window shows and keeps.
QJsonObject stateOnly(QJsonObject json) {
    for (const QString &key : listClickRunKeys())
        json.remove(key);
    for (const char *key : {"Schedule", "failures", "queryFailures", "drawing"})
        json.remove(QLatin1String(key));
    return json;
}

QStringList differingKeys(const QJsonObject &a, const QJsonObject &b) {
    QStringList keys;
    for (const QString &key : a.keys() + b.keys())
        if (a.value(key) != b.value(key) && !keys.contains(key))
            keys << key;
    return keys;
}

QImage asRgb(const QImage &image) { return image.convertToFormat(QImage::Format_RGB32); }

class ClickTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { servers = new SampleServers; }
    static void TearDownTestSuite() {
        delete servers;
        servers = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(servers->ok()) << servers->error().toStdString(); }

    // A shown window on the sample site's day, its list loaded.
    std::unique_ptr<MainWindow> openWindow(const SiteBases &sites, WebFactory webs = network(),
                                           const QString &recordingsRoot = QString()) {
        return openSampleWindow(sites, std::move(webs), recordingsRoot);
    }
    static bool waitFor(QSignalSpy &spy, int count) {
        return QTest::qWaitFor([&] { return spy.count() >= count; }, 60000);
    }
    static bool waitForWorkers(MainWindow &window) {
        return QTest::qWaitFor([&] { return window.jobs().runningWorkers() == 0; }, 60000);
    }
    static QString rowKey(const MainWindow &window, int gridRow) {
        return window.matchList()->grid().text(gridRow, MatchListKeyColumn);
    }

    static SampleServers *servers;
};

SampleServers *ClickTest::servers = nullptr;

} // namespace

TEST_F(ClickTest, AListClickShowsWhatTheCommandLinePrints) {
    auto w = openWindow(servers->sites());
    // The height at which the trend boxes have the command line's size: the
    // window is twice as much higher as each box.
    const auto trendHeight = [&] { return w->layoutTwips().trendCharts[0].height; };
    for (int attempt = 0; attempt < 3 && trendHeight() != PicTdDesignHeight; ++attempt) {
        const double before = trendHeight();
        w->resize(w->width(), w->height() - twipsToPixels(2 * (before - PicTdDesignHeight), w->logicalDpiY()));
        if (!QTest::qWaitFor([&] { return trendHeight() != before; }, 5000))
            break;
    }
    ASSERT_EQ(trendHeight(), PicTdDesignHeight);

    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    QSignalSpy progress(&w->jobs(), &JobRunner::status);
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 1));

    QStringList sentences;
    for (const QList<QVariant> &args : progress)
        sentences << args.at(0).toString();
    EXPECT_TRUE(sentences.contains(QStringLiteral("分析中…读取分析页面"))) << sentences.join(u'\n').toStdString();
    EXPECT_TRUE(sentences.contains(QStringLiteral("分析中…查询相似比赛")));
    EXPECT_EQ(w->statusText(), QStringLiteral("分析完成；相似比赛 30 场"));
    EXPECT_TRUE(w->statusDetail().contains(QStringLiteral(" ms"))) << "the time is a detail";
    ASSERT_EQ(w->clickTimesMs().size(), 1);
    EXPECT_GT(w->clickTimesMs().first(), 0);
    EXPECT_EQ(w->medianClickMs(), w->clickTimesMs().first());
    EXPECT_TRUE(w->similarSummaryText().startsWith(QStringLiteral("相似 30 场：主胜 ")))
        << w->similarSummaryText().toStdString();

    QTemporaryDir png;
    const CliRun cli = runCli(QStringList{QStringLiteral("analyze"), QStringLiteral("--row"), QStringLiteral("1"),
                                          QStringLiteral("--png"), png.path()}
                              + servers->cliSiteOptions());
    ASSERT_EQ(cli.exitCode, 0) << cli.errors.toStdString();

    const QJsonObject window = stateOnly(listClickJson(w->state(), {}, w->pictures(), w->similarList()->grid()));
    const QJsonObject printed = stateOnly(cli.json);
    EXPECT_EQ(window, printed) << differingKeys(window, printed).join(u' ').toStdString();
    EXPECT_GT(w->state().trendSeries.rows(), 0);
    EXPECT_EQ(w->state().similarMatches.rows(), 30);
    EXPECT_EQ(w->similarList()->grid().rows(), 61) << "two lines a match under the captions";

    const auto samePixels = [&](const Canvas &canvas, const char *file) {
        return asRgb(canvas.image()) == asRgb(QImage(png.filePath(QLatin1String(file))));
    };
    EXPECT_EQ(QImage(png.filePath(QStringLiteral("PIC_SR.png"))).size(), QSize(497, 233)) << "7455 by 3495 twips";
    EXPECT_EQ(QImage(png.filePath(QStringLiteral("PIC_TD0.png"))).size(), QSize(499, 200)) << "7485 by 3000 twips";
    EXPECT_TRUE(samePixels(w->pictures().strengthPanel, "PIC_SR.png"));
    EXPECT_TRUE(samePixels(w->pictures().trendCharts[0], "PIC_TD0.png"));
    EXPECT_TRUE(samePixels(w->pictures().trendCharts[1], "PIC_TD1.png"));
    EXPECT_EQ(asRgb(w->trendBox(1)->image()), asRgb(w->pictures().trendCharts[1].image()))
        << "the box shows its canvas";
}

TEST_F(ClickTest, ANewerClickCancelsTheRunningOne) {
    TestSite gate;
    gate.passThrough();
    auto w = openWindow(servers->sites(), gate.factory());
    const Value firstId = w->schedule().matchTable.at(0, rowKey(*w, 1).toInt());
    gate.holdContaining(QStringLiteral("analysis/%1cn.htm").arg(firstId.text()));

    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    w->analyzeListedMatch(1, 2);
    EXPECT_EQ(w->matchList()->grid().cell(1, 2).backColor, MainWindow::HighlightColor) << "at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.waiting() == 1; }, 60000));
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("分析中…"))) << w->statusText().toStdString();

    w->analyzeListedMatch(2, 3);
    ASSERT_TRUE(waitFor(analysed, 1));
    ASSERT_TRUE(waitForWorkers(*w));
    QCoreApplication::processEvents();

    EXPECT_EQ(gate.aborted(), 1) << "the held page was aborted, not waited for";
    EXPECT_EQ(analysed.count(), 1) << "the cancelled click is never shown";
    EXPECT_EQ(w->state().listMatchId, w->schedule().matchTable.at(0, rowKey(*w, 2).toInt()));
    EXPECT_TRUE(w->pictures().trendCharts[0].textStrings().contains(QStringLiteral("实力Ⅰ ")
                                                                    + w->state().listMatchCaption.text()));
    EXPECT_EQ(w->clickTimesMs().size(), 1);
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("分析完成"))) << w->statusText().toStdString();
}

TEST_F(ClickTest, ASiteThatIsDownLeavesNoTrendAndSaysSo) {
    SampleServers own;
    ASSERT_TRUE(own.ok()) << own.error().toStdString();
    auto w = openWindow(own.sites());
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 1));
    const QString before = w->state().listMatchCaption.text();
    ASSERT_GT(w->state().trendSeries.rows(), 0);
    ASSERT_GT(w->similarList()->grid().rows(), 1);

    own.stopSite();
    w->analyzeListedMatch(2, 2);
    ASSERT_TRUE(waitFor(analysed, 2));

    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("分析页面读取失败："))) << w->statusText().toStdString();
    EXPECT_TRUE(w->statusText().contains(QStringLiteral("未查询相似比赛")));
    EXPECT_TRUE(w->findChild<QLabel *>(QStringLiteral("status"))->toolTip().contains(QStringLiteral("refused")))
        << "the details on hovering";
    EXPECT_EQ(w->state().trendSeries.rows(), 0);
    EXPECT_EQ(w->state().homeHistory.rows(), 0);
    for (int e = 0; e < 8; ++e)
        EXPECT_EQ(w->state().profile.strengths.at(e), Value(0.0)) << e;
    EXPECT_EQ(w->similarList()->grid().rows(), 1) << "no similar matches of the previous match";
    for (const Canvas *canvas :
         {&w->pictures().strengthPanel, &w->pictures().trendCharts[0], &w->pictures().trendCharts[1]})
        for (const QString &text : canvas->textStrings())
            EXPECT_FALSE(text.contains(before)) << text.toStdString();
}

TEST_F(ClickTest, AHistoryTooShortForATrendLeavesNoneOfThePreviousMatch) {
    auto w = openWindow(servers->sites());
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 1));
    ASSERT_GT(w->state().trendSeries.rows(), 0);
    const QString before = w->state().listMatchCaption.text();

    // The sample world's first days: the teams have played no match yet.
    QSignalSpy listed(w.get(), &MainWindow::scheduleShown);
    w->showCalendarDay(QDate(2021, 7, 3));
    ASSERT_TRUE(waitFor(listed, 1));
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 2));

    EXPECT_TRUE(
        w->statusText().startsWith(QStringLiteral("两队历史都不足20场（主队0场，客队0场），无法计算实力趋势；")))
        << w->statusText().toStdString();
    EXPECT_EQ(w->state().trendSeries.rows(), 0);
    for (int e = 0; e < 8; ++e)
        EXPECT_EQ(w->state().profile.strengths.at(e), Value(0.0)) << e;
    EXPECT_TRUE(w->state().similarQuery.isEmpty()) << "no similar matches asked for from zeros";
    for (const Canvas *canvas :
         {&w->pictures().strengthPanel, &w->pictures().trendCharts[0], &w->pictures().trendCharts[1]})
        for (const QString &text : canvas->textStrings())
            EXPECT_FALSE(text.contains(before)) << text.toStdString();
}

TEST_F(ClickTest, ASimilarClickDrawsTheComparisonAndItsTrend) {
    auto w = openWindow(servers->sites());
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 1));
    ASSERT_GT(w->similarList()->grid().rows(), 4);
    const QImage upperTrend = w->pictures().trendCharts[0].image();
    const Value listMatch = w->state().listMatchId;

    w->analyzeSimilarMatch(3, 5);
    EXPECT_EQ(w->similarList()->grid().cell(3, 2).backColor, MainWindow::HighlightColor) << "at once";
    ASSERT_TRUE(waitFor(analysed, 2));

    const AnalysisState &s = w->state();
    EXPECT_EQ(s.similarRowKey, Value(QStringLiteral("1"))) << "the second match's first line";
    EXPECT_EQ(s.currentMatchId, s.similarMatches.at(0, 1));
    EXPECT_EQ(s.listMatchId, listMatch);
    EXPECT_EQ(s.listHandicapLoaded, Value::fromInt16(1));
    EXPECT_FALSE(s.similarMatchCaption.text().isEmpty());
    EXPECT_FALSE(s.handicapSummary.at(1, 1).isEmpty()) << "the historic match's handicap";
    EXPECT_TRUE(w->pictures().strengthPanel.textStrings().contains(s.similarMatchCaption.text()));
    EXPECT_TRUE(
        w->pictures().trendCharts[1].textStrings().contains(QStringLiteral("实力Ⅰ ") + s.similarMatchCaption.text()));
    EXPECT_EQ(w->pictures().trendCharts[0].image(), upperTrend) << "the list match's upper trend stays";
    EXPECT_EQ(w->similarList()->grid().rows(), 61) << "the list stays";
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("历史比赛分析完成"))) << w->statusText().toStdString();
}

TEST_F(ClickTest, ServerSlotsChooseTheServiceAndTheHandicapCommandReadsTheListMatch) {
    SiteBases sites = servers->sites();
    const QString service = sites.service;
    sites.service = QStringLiteral("http://127.0.0.1:9/");
    auto w = openWindow(sites);
    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 1));
    EXPECT_TRUE(w->statusText().contains(QStringLiteral("相似比赛查询失败"))) << w->statusText().toStdString();
    EXPECT_EQ(w->similarList()->grid().rows(), 1);

    QSignalSpy chosen(w.get(), &MainWindow::serverSlotShown);
    w->serverSlotOption(2)->click();
    EXPECT_EQ(w->pendingServerSlot(), 2) << "marked pending at once";
    EXPECT_FALSE(w->serverSlotOption(2)->isChecked()) << "ticked only once in use";
    ASSERT_TRUE(waitFor(chosen, 1));
    EXPECT_EQ(w->pendingServerSlot(), -1);
    EXPECT_EQ(w->sites().service, service) << "the address the server list names";
    EXPECT_EQ(w->selectedServerSlot(), 2);
    EXPECT_EQ(w->statusText(), QStringLiteral("服务器三：数据服务 ") + service);
    for (int slot = 0; slot < 3; ++slot) {
        QRadioButton *option = w->serverSlotOption(slot);
        EXPECT_EQ(option->text(), serverSlotCaption(slot));
        EXPECT_EQ(option->font().bold(), slot == 2) << slot;
        EXPECT_EQ(option->isChecked(), slot == 2) << slot;
        EXPECT_EQ(option->palette().color(QPalette::ButtonText) == QColor(255, 0, 0), slot == 2) << slot;
    }

    w->analyzeListedMatch(1, 2);
    ASSERT_TRUE(waitFor(analysed, 2));
    EXPECT_EQ(w->similarList()->grid().rows(), 61) << "the new service answers";

    w->showHandicapChanges();
    ASSERT_TRUE(waitFor(analysed, 3));
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("盘口变化 "))) << w->statusText().toStdString();
    EXPECT_EQ(w->state().currentMatchId, w->state().listMatchId);
    EXPECT_EQ(w->state().matchDate, w->state().listMatchTime);
    EXPECT_FALSE(w->state().handicapSummary.at(1, 0).isEmpty());
    EXPECT_EQ(w->state().listHandicapLoaded, Value::fromInt16(0)) << "a similar click still reads it itself";
}

TEST_F(ClickTest, SavingADiagnosticRecordReadsNothingAgainAndReplaysToTheSameStateOffline) {
    QTemporaryDir root;
    Gate counting;
    auto w = openWindow(servers->sites(), counting.factory(), root.path());
    const auto shownState = [](const MainWindow &window) {
        return stateOnly(listClickJson(window.state(), {}, window.pictures(), window.similarList()->grid()));
    };

    w->recordLastClick();
    EXPECT_TRUE(w->statusText().contains(QStringLiteral("请先在列表中点一场比赛"))) << w->statusText().toStdString();
    EXPECT_TRUE(QDir(root.path()).isEmpty());

    QSignalSpy analysed(w.get(), &MainWindow::analysisShown);
    w->analyzeListedMatch(2, 2);
    ASSERT_TRUE(waitFor(analysed, 1));
    const QJsonObject clicked = shownState(*w);
    // An open similar comparison stays open while the record is saved.
    w->analyzeSimilarMatch(3, 2);
    ASSERT_TRUE(waitFor(analysed, 2));
    const QImage comparison = w->pictures().strengthPanel.image();
    const Value similarRow = w->state().similarRowKey;

    const int requests = counting.requests();
    w->recordLastClick();
    QCoreApplication::processEvents();
    EXPECT_EQ(counting.requests(), requests) << "the pages at hand are stored, none read again";
    EXPECT_FALSE(w->jobs().busy()) << "nothing runs again";
    EXPECT_EQ(analysed.count(), 2);
    EXPECT_EQ(w->pictures().strengthPanel.image(), comparison);
    EXPECT_EQ(w->state().similarRowKey, similarRow);
    const QStringList dirs = QDir(root.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(dirs.size(), 1);
    const QString dir = QDir(root.path()).filePath(dirs.first());
    auto *note = w->findChild<QMessageBox *>(QStringLiteral("diagnosticsSaved"));
    ASSERT_NE(note, nullptr) << "a note names the folder";
    EXPECT_TRUE(note->text().contains(QDir::toNativeSeparators(dir))) << note->text().toStdString();
    EXPECT_NE(note->findChild<QPushButton *>(QStringLiteral("openFolder")), nullptr);
    note->close();

    // A window that reads nothing but the recording comes to the same state.
    auto playback = std::make_shared<Playback>(dir);
    ASSERT_TRUE(playback->error().isEmpty()) << playback->error().toStdString();
    auto replayed = openWindow(servers->sites(),
                               [playback]() -> std::unique_ptr<Web> { return std::make_unique<ReplayWeb>(playback); });
    QSignalSpy again(replayed.get(), &MainWindow::analysisShown);
    replayed->analyzeListedMatch(2, 2);
    ASSERT_TRUE(waitFor(again, 1));
    const QJsonObject replayedState = shownState(*replayed);
    EXPECT_EQ(replayedState, clicked) << differingKeys(replayedState, clicked).join(u' ').toStdString();

    // So does the command line the status names.
    QStringList args{QStringLiteral("analyze"), QStringLiteral("--row"), QStringLiteral("2")};
    const QString date = replayed->state().selectedDate.text();
    if (w->statusDetail().contains(QStringLiteral("--date ")))
        args << QStringLiteral("--date") << date;
    const CliRun cli = runCli(args + QStringList{QStringLiteral("--replay"), dir} + servers->cliSiteOptions());
    ASSERT_EQ(cli.exitCode, 0) << cli.errors.toStdString();
    // Where the texts fall depends on the window's picture sizes; the values do not.
    QJsonObject printed = stateOnly(cli.json);
    QJsonObject shown = clicked;
    printed.remove(QStringLiteral("texts"));
    shown.remove(QStringLiteral("texts"));
    EXPECT_EQ(printed, shown) << differingKeys(printed, shown).join(u' ').toStdString();
}

TEST_F(ClickTest, TheDoctorFindsEveryMarkerOnTheSampleSites) {
    const CliRun json =
        runCli(QStringList{QStringLiteral("doctor"), QStringLiteral("--json")} + servers->cliSiteOptions());
    EXPECT_EQ(json.exitCode, 0) << QJsonDocument(json.json).toJson().toStdString() << json.errors.toStdString();
    EXPECT_TRUE(json.json.value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(json.json.value(QStringLiteral("pages")).toArray().size(), 6);

    // With the odds site gone nothing of a match can be checked: exit 1.
    QStringList options = servers->cliSiteOptions();
    options[1] = QStringLiteral("http://127.0.0.1:1/");
    QProcess process;
    process.start(QStringLiteral(CHENGLAN_CLI), QStringList{QStringLiteral("doctor")} + options);
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 1);
    const QString table = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_TRUE(table.contains(QStringLiteral("Jingcai schedule: network failed"))) << table.toStdString();
    EXPECT_TRUE(table.contains(QStringLiteral("Some pages failed."))) << table.toStdString();
}

// What scripts/bench reads of the window's click bench: one JSON line on
// stdout with the start, the click times and the memory after click 1.
TEST_F(ClickTest, TheClickBenchPrintsItsFiguresAsOneJsonLine) {
#ifndef CHENGLAN_BENCH_WINDOW
    GTEST_SKIP() << "bench_window is built with the benchmarks only";
#else
    const SiteBases &sites = servers->sites();
    QProcess process;
    process.start(QStringLiteral(CHENGLAN_BENCH_WINDOW),
                  {QStringLiteral("--clicks"), QStringLiteral("3"), QStringLiteral("--odds-site"), sites.odds,
                   QStringLiteral("--analysis-site"), sites.analysis, QStringLiteral("--detail-site"), sites.detail,
                   QStringLiteral("--service"), sites.service, QStringLiteral("--server-list"), sites.serverList});
    ASSERT_TRUE(process.waitForFinished(120000));
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    ASSERT_EQ(process.exitCode(), 0) << errors.toStdString();
    const QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 1);
    const QJsonObject figures = QJsonDocument::fromJson(lines.first()).object();
    EXPECT_EQ(figures.value(QStringLiteral("clicks")).toInt(), 3);
    EXPECT_GE(figures.value(QStringLiteral("rows")).toInt(), 2);
    // The process started before main(); the kernel counts in steps of 10 ms.
    const double fromMain = figures.value(QStringLiteral("listShownFromMainMs")).toDouble();
    const double fromStart = figures.value(QStringLiteral("listShownMs")).toDouble();
    EXPECT_GT(fromMain, 0);
    EXPECT_GT(fromStart, fromMain - 20) << errors.toStdString();
    EXPECT_LT(fromStart, fromMain + 60000);
    const double median = figures.value(QStringLiteral("medianMs")).toDouble();
    EXPECT_GT(median, 0);
    EXPECT_EQ(figures.value(QStringLiteral("median50Ms")).toDouble(), median) << "fewer than 50 clicks";
    EXPECT_LE(figures.value(QStringLiteral("minMs")).toDouble(), median);
    EXPECT_GE(figures.value(QStringLiteral("maxMs")).toDouble(), median);
    const QJsonObject resident = figures.value(QStringLiteral("residentMiB")).toObject();
    EXPECT_EQ(resident.keys(), QStringList{QStringLiteral("1")});
    EXPECT_GT(resident.value(QStringLiteral("1")).toDouble(), 10);
    EXPECT_TRUE(errors.contains(QStringLiteral("start to list shown"))) << errors.toStdString();
#endif
}
