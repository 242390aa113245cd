// Network faults injected between the window's real client and the sample
// site or the data service: the window says what happened, shows nothing of
// an earlier result as the new one, and the next command works once the
// fault is gone.
#include "app/MainWindow.h"
#include "app/GridView.h"
#include "model/GridFormats.h"
#include "support/FaultProxy.h"
#include "net/QtWeb.h"
#include "SampleServers.h"
#include "SampleWindow.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

using namespace chenglan;
using namespace chenglan::testing;
using namespace std::chrono_literals;

namespace {

// Short bounds so that a stalled answer costs a second and a large one a few
// megabytes; the sample pages stay well inside both.
FetchLimits testLimits() {
    FetchLimits limits;
    limits.deadline = 1500ms;
    limits.maxBody = 2 * 1024 * 1024;
    return limits;
}

// A fault and what the status bar must then say (every part, in order).
struct FaultCase {
    Fault fault;
    bool refused; // the port is closed instead
    QStringList says;
};

QString caseName(const FaultCase &c) { return c.refused ? QStringLiteral("Refused") : QLatin1String(faultName(c.fault)); }

// The Chinese parts in order in the status sentence, and the technical ones
// (those with Latin letters) in the detail behind it, as the tooltip shows.
bool saysInOrder(const MainWindow &w, const QStringList &parts) {
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    const QString status = w.statusText();
    qsizetype at = 0;
    for (const QString &part : parts) {
        if (part.contains(latin)) {
            if (!w.statusDetail().contains(part))
                return false;
            continue;
        }
        at = status.indexOf(part, at);
        if (at < 0)
            return false;
        at += part.size();
    }
    return true;
}

class FaultTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        servers = new SampleServers;
        if (!servers->ok())
            return;
        const QString siteBase = QUrl(servers->sites().odds).resolved(QUrl(QStringLiteral("/"))).toString();
        site = new FaultProxy(siteBase);
        service = new FaultProxy(servers->sites().service);
        site->setOversizeBytes(3 * 1024 * 1024);
        service->setOversizeBytes(3 * 1024 * 1024);
    }
    static void TearDownTestSuite() {
        delete site;
        delete service;
        delete servers;
        site = service = nullptr;
        servers = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(servers->ok()) << servers->error().toStdString();
        ASSERT_TRUE(site->ok()) << site->error().toStdString();
        ASSERT_TRUE(service->ok()) << service->error().toStdString();
        site->clear();
        service->clear();
    }

    static SiteBases proxiedSites() {
        SiteBases bases = servers->sites();
        bases.odds = site->url(QStringLiteral("odds/"));
        bases.analysis = site->url(QStringLiteral("zq/"));
        bases.detail = site->url(QStringLiteral("vip/"));
        bases.serverList = site->url(QStringLiteral("servers/"));
        bases.service = service->baseUrl();
        return bases;
    }

    // The window on the proxies with the real client and short bounds, its list loaded.
    static std::unique_ptr<MainWindow> openWindow() {
        return openSampleWindow(proxiedSites(),
                                []() -> std::unique_ptr<Web> { return std::make_unique<QtWeb>(testLimits()); });
    }

    static void inject(FaultProxy &proxy, const QString &part, const FaultCase &c, int skip = 0) {
        if (c.refused)
            proxy.refuseConnections(true);
        else
            proxy.inject(part, c.fault, skip);
    }

    // Runs a command and waits until its result is shown.
    template <class Signal>
    static bool run(MainWindow &w, Signal signal, const std::function<void()> &command) {
        QSignalSpy shown(&w, signal);
        command();
        return QTest::qWaitFor([&] { return shown.count() >= 1; }, 60000)
            && QTest::qWaitFor([&] { return w.jobs().runningWorkers() == 0; }, 60000);
    }
    static bool click(MainWindow &w, int row) {
        return run(w, &MainWindow::analysisShown, [&] { w.analyzeListedMatch(row, 2); });
    }

    // Every text drawn on the three pictures.
    static QStringList drawnTexts(const MainWindow &w) {
        return w.pictures().strengthPanel.textStrings() + w.pictures().trendCharts[0].textStrings()
               + w.pictures().trendCharts[1].textStrings();
    }

    static inline SampleServers *servers = nullptr;
    static inline FaultProxy *site = nullptr;
    static inline FaultProxy *service = nullptr;
};

} // namespace

TEST_F(FaultTest, TheDaysListIsEmptiedAndSaysWhy) {
    const QString failed = QStringLiteral("今日竞彩赛程读取失败：");
    const QString emptied = QStringLiteral("列表已清空");
    const FaultCase cases[] = {
        {Fault::None, true, {failed, QStringLiteral("连不上赔率网站"), emptied, QStringLiteral("refused")}},
        {Fault::ResetMidBody, false, {failed, QStringLiteral("连不上赔率网站"), emptied, QStringLiteral("closed")}},
        {Fault::Stall, false, {failed, QStringLiteral("连不上赔率网站"), emptied, QStringLiteral("within 1.5 s")}},
        {Fault::Truncated, false, {failed, QStringLiteral("连不上赔率网站"), emptied, QStringLiteral("bytes of the answer")}},
        {Fault::Oversize, false, {failed, QStringLiteral("连不上赔率网站"), emptied, QStringLiteral("larger than 2 MiB")}},
        {Fault::ServerError, false, {failed, QStringLiteral("赔率网站出错"), emptied, QStringLiteral("HTTP 500")}},
        {Fault::GbAsUtf8, false, {failed, QStringLiteral("赔率网站出错"), emptied, QStringLiteral("not UTF-8 text")}},
        {Fault::InvalidBytes, false, {failed, QStringLiteral("赔率网站出错"), emptied, QStringLiteral("not UTF-8 text")}},
        {Fault::Empty, false, {failed, QStringLiteral("赔率网站出错"), emptied, QStringLiteral("empty")}},
    };
    auto w = openWindow();
    for (const FaultCase &c : cases) {
        SCOPED_TRACE(caseName(c).toStdString());
        inject(*site, QStringLiteral("buy/Jingcai.aspx"), c);
        ASSERT_TRUE(run(*w, &MainWindow::scheduleShown, [&] { w->showJingcaiSchedule(); }));
        EXPECT_TRUE(saysInOrder(*w, c.says)) << w->statusText().toStdString() << " | " << w->statusDetail().toStdString();
        EXPECT_EQ(w->matchList()->grid().rows(), 1) << "no row of the day listed before";
        EXPECT_EQ(listedMatchCount(w->schedule()), 0);

        site->clear();
        ASSERT_TRUE(run(*w, &MainWindow::scheduleShown, [&] { w->showJingcaiSchedule(); }));
        EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("今日竞彩赛程：共 "))) << w->statusText().toStdString();
        EXPECT_GE(w->matchList()->grid().rows(), 3);
    }
}

// The match's own page: nothing of the previous match stays on the
// pictures, the similar list is emptied, and the service is not asked.
TEST_F(FaultTest, AFailedAnalysisPageShowsNothingOfThePreviousMatch) {
    const QString failed = QStringLiteral("分析页面读取失败：");
    const QString noQuery = QStringLiteral("未查询相似比赛，相似比赛列表已清空");
    const QString siteError = QStringLiteral("网站出错");
    const FaultCase cases[] = {
        {Fault::None, true, {failed, QStringLiteral("refused"), noQuery}},
        {Fault::ResetMidBody, false, {failed, noQuery}},
        {Fault::Stall, false, {failed, QStringLiteral("within 1.5 s"), noQuery}},
        {Fault::Truncated, false, {failed, QStringLiteral("bytes of the answer"), noQuery}},
        {Fault::Oversize, false, {failed, QStringLiteral("larger than 2 MiB"), noQuery}},
        {Fault::ServerError, false, {failed, siteError, QStringLiteral("HTTP 500"), noQuery}},
        {Fault::GbAsUtf8, false, {failed, siteError, QStringLiteral("not UTF-8 text"), noQuery}},
        {Fault::InvalidBytes, false, {failed, siteError, QStringLiteral("not GB18030 text"), noQuery}},
        {Fault::Empty, false, {failed, siteError, QStringLiteral("empty"), noQuery}},
    };
    auto w = openWindow();
    ASSERT_TRUE(click(*w, 1));
    int row = 1;
    for (const FaultCase &c : cases) {
        SCOPED_TRACE(caseName(c).toStdString());
        // The match shown before, on the other row than the one now clicked.
        const QString before = w->state().listMatchCaption.text();
        ASSERT_FALSE(before.isEmpty());
        ASSERT_GT(w->similarList()->grid().rows(), 1);
        row = row == 1 ? 2 : 1;

        inject(*site, QStringLiteral("zq/analysis/"), c);
        ASSERT_TRUE(click(*w, row));
        EXPECT_TRUE(saysInOrder(*w, c.says)) << w->statusText().toStdString() << " | " << w->statusDetail().toStdString();
        EXPECT_EQ(w->state().trendSeries.rows(), 0);
        EXPECT_EQ(w->state().homeHistory.rows(), 0);
        EXPECT_EQ(w->similarList()->grid().rows(), 1) << "no similar match of the previous match";
        for (const QString &text : drawnTexts(*w))
            EXPECT_FALSE(text.contains(before)) << text.toStdString();

        site->clear();
        ASSERT_TRUE(click(*w, row));
        EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("分析完成；相似比赛 "))) << w->statusText().toStdString();
        EXPECT_GT(w->state().trendSeries.rows(), 0);
    }
}

// The two pages of the teams' older history: the analysis goes on with the
// shorter history and says so, with the reason.
TEST_F(FaultTest, AFailedExtensionPageIsNamedAndTheAnalysisGoesOn) {
    const QString shorter = QStringLiteral("分析完成；历史扩展页面读取失败");
    const QString trend = QStringLiteral("，趋势只用了较短的历史");
    const FaultCase cases[] = {
        {Fault::ResetMidBody, false, {shorter, trend}},
        {Fault::Stall, false, {shorter, QStringLiteral("within 1.5 s"), trend}},
        {Fault::Truncated, false, {shorter, QStringLiteral("bytes of the answer"), trend}},
        {Fault::ServerError, false, {shorter, QStringLiteral("HTTP 500"), trend}},
        {Fault::InvalidBytes, false, {shorter, QStringLiteral("not GB18030 text"), trend}},
        {Fault::Empty, false, {shorter, QStringLiteral("empty"), trend}},
    };
    auto w = openWindow();
    for (const FaultCase &c : cases) {
        SCOPED_TRACE(caseName(c).toStdString());
        // The match's own page passes; the two extension pages after it fail.
        inject(*site, QStringLiteral("zq/analysis/"), c, 1);
        ASSERT_TRUE(click(*w, 1));
        EXPECT_TRUE(saysInOrder(*w, c.says)) << w->statusText().toStdString() << " | " << w->statusDetail().toStdString();
        EXPECT_GE(site->faultsServed(), 1);
        EXPECT_GT(w->similarList()->grid().rows(), 1) << "the match's own page came: the service is asked";

        site->clear();
        ASSERT_TRUE(click(*w, 1));
        EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("分析完成；相似比赛 "))) << w->statusText().toStdString();
    }
}

TEST_F(FaultTest, AFailedSimilarQueryEmptiesTheSimilarList) {
    const QString failed = QStringLiteral("分析完成；相似比赛查询失败：");
    const FaultCase cases[] = {
        {Fault::None, true, {failed, QStringLiteral("refused")}},
        {Fault::ResetMidBody, false, {failed}},
        {Fault::Stall, false, {failed, QStringLiteral("within 1.5 s")}},
        {Fault::Truncated, false, {failed, QStringLiteral("bytes of the answer")}},
        {Fault::Oversize, false, {failed, QStringLiteral("larger than 2 MiB")}},
        {Fault::ServerError, false, {failed, QStringLiteral("数据服务出错"), QStringLiteral("HTTP 500")}},
        {Fault::InvalidBytes, false, {failed, QStringLiteral("not GB18030 text")}},
        {Fault::Empty, false, {QStringLiteral("分析完成；数据服务没有找到相似比赛")}},
    };
    auto w = openWindow();
    ASSERT_TRUE(click(*w, 1));
    for (const FaultCase &c : cases) {
        SCOPED_TRACE(caseName(c).toStdString());
        ASSERT_EQ(w->similarList()->grid().rows(), 61);
        inject(*service, QStringLiteral("shili/"), c);
        ASSERT_TRUE(click(*w, 2));
        EXPECT_TRUE(saysInOrder(*w, c.says)) << w->statusText().toStdString() << " | " << w->statusDetail().toStdString();
        EXPECT_EQ(w->similarList()->grid().rows(), 1) << "no similar match of the previous query";
        EXPECT_EQ(w->state().similarMatches.rows(), 0);
        EXPECT_GT(w->state().trendSeries.rows(), 0) << "the analysis itself stands";

        service->clear();
        ASSERT_TRUE(click(*w, 1));
        EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("分析完成；相似比赛 "))) << w->statusText().toStdString();
    }
}

// "实力趋势": the change detail of the list match.
TEST_F(FaultTest, AFailedChangeDetailLeavesNoOldChanges) {
    const QString failed = QStringLiteral("盘口变化页面读取失败：");
    const QString siteError = QStringLiteral("网站出错");
    const FaultCase cases[] = {
        {Fault::None, true, {failed, QStringLiteral("refused")}},
        {Fault::ResetMidBody, false, {failed}},
        {Fault::Stall, false, {failed, QStringLiteral("within 1.5 s")}},
        {Fault::Truncated, false, {failed, QStringLiteral("bytes of the answer")}},
        {Fault::ServerError, false, {failed, siteError, QStringLiteral("HTTP 500")}},
        {Fault::InvalidBytes, false, {failed, siteError, QStringLiteral("not GB18030 text")}},
        {Fault::Empty, false, {failed, siteError, QStringLiteral("empty")}},
    };
    auto w = openWindow();
    ASSERT_TRUE(click(*w, 1));
    const auto detail = [&] { return run(*w, &MainWindow::analysisShown, [&] { w->showHandicapChanges(); }); };
    ASSERT_TRUE(detail());
    ASSERT_TRUE(w->statusText().startsWith(QStringLiteral("盘口变化 "))) << w->statusText().toStdString();
    for (const FaultCase &c : cases) {
        SCOPED_TRACE(caseName(c).toStdString());
        ASSERT_FALSE(w->state().handicapSummary.at(1, 0).isEmpty());
        inject(*site, QStringLiteral("changeDetail/"), c);
        ASSERT_TRUE(detail());
        EXPECT_TRUE(saysInOrder(*w, c.says)) << w->statusText().toStdString() << " | " << w->statusDetail().toStdString();
        for (int item = 0; item < 8; ++item)
            EXPECT_TRUE(w->state().handicapSummary.at(item, 0).isEmpty()) << "no change shown from before";

        site->clear();
        ASSERT_TRUE(detail());
        EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("盘口变化 "))) << w->statusText().toStdString();
    }
}
