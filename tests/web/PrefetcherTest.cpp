#include "usecases/Prefetcher.h"
#include "support/AnalysisPages.h"
#include "net/HttpFetch.h"
#include "net/PageCache.h"

#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace chenglan;
using namespace chenglan::testing;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const QString kBase = QStringLiteral("http://zq.test/");

// The analysis site as the tests need it: the same pages for every match id,
// each answer to a request fetched ahead taking `aheadDelay`, and a log of
// who asked for what and when. Thread-safe.
class SlowSite {
public:
    struct Ask {
        QString url;
        bool ahead = false;
        Clock::time_point start;
    };

    explicit SlowSite(std::chrono::milliseconds aheadDelay) : m_aheadDelay(aheadDelay) {}

    void serveMatches(const QList<int> &ids) {
        const std::lock_guard lock(m_mutex);
        for (int id : ids)
            addGbPage(m_pages, TwoTeamWorld::pageUrl(kBase, id), analysisPageHtml(m_world.analysedPage()));
        m_world.serve(m_pages, kBase);
    }

    FetchOutcome fetch(const HttpRequest &request, StopSignal &stop) {
        {
            const std::lock_guard lock(m_mutex);
            m_asks.append({request.url, request.ahead, Clock::now()});
        }
        if (request.ahead && !stop.waitUntil(Clock::now() + m_aheadDelay))
            return FetchOutcome::failed(FetchOutcome::Failure::Aborted, QStringLiteral("aborted"));
        const std::lock_guard lock(m_mutex);
        return m_pages.fetch(request);
    }

    QList<Ask> asks() const {
        const std::lock_guard lock(m_mutex);
        return m_asks;
    }

    int aheadAsks() const {
        int n = 0;
        for (const Ask &a : asks())
            n += a.ahead;
        return n;
    }

private:
    std::chrono::milliseconds m_aheadDelay;
    mutable std::mutex m_mutex;
    TwoTeamWorld m_world;
    FakeWeb m_pages;
    QList<Ask> m_asks;
};

class SiteClient : public Web {
public:
    explicit SiteClient(SlowSite &site) : m_site(site) {}
    FetchOutcome fetch(const HttpRequest &request) override {
        if (m_stop.raised())
            return FetchOutcome::failed(FetchOutcome::Failure::Aborted, QStringLiteral("aborted"));
        return m_site.fetch(request, m_stop);
    }
    void abort() override { m_stop.raise(); }

private:
    SlowSite &m_site;
    StopSignal m_stop;
};

ScheduleState listOf(const QList<int> &ids) {
    ScheduleState s;
    s.matchTable = Table(21, int(ids.size()));
    s.matchRowFlags = ValueArray(int(ids.size()));
    for (int row = 0; row < ids.size(); ++row) {
        s.matchTable.set(0, row, Value(double(ids[row])));
        s.matchTable.set(3, row, Value(QStringLiteral("12-08 19:30")));
        s.matchTable.set(6, row, Value(QStringLiteral("vs")));
        s.matchRowFlags.set(row, Value::fromInt16(1));
    }
    return s;
}

void waitFor(const std::function<bool()> &condition) {
    const auto until = Clock::now() + 10s;
    while (!condition() && Clock::now() < until)
        std::this_thread::sleep_for(2ms);
}

struct Rig {
    explicit Rig(std::chrono::milliseconds aheadDelay)
        : site(aheadDelay), cache(std::make_shared<PageCache>(dir.path())),
          gate(std::make_shared<UserFirstGate>(100ms)),
          prefetcher([this] { return std::make_unique<CachingWeb>(std::make_unique<SiteClient>(site), cache); },
                     SiteBases{QString(), kBase, QString(), QString(), QString()}, gate) {}

    std::unique_ptr<Web> userWeb() {
        return std::make_unique<UserWeb>(std::make_unique<CachingWeb>(std::make_unique<SiteClient>(site), cache), gate);
    }

    QTemporaryDir dir;
    SlowSite site;
    std::shared_ptr<PageCache> cache;
    std::shared_ptr<UserFirstGate> gate;
    Prefetcher prefetcher;
};

} // namespace

// While fetching ahead waits on a slow answer, a click's pages are asked at
// once and answered without waiting for it; fetching ahead asks nothing more
// until the click's fetches are over, then goes on and finishes its list, and
// the click after it is served from what came in.
TEST(Prefetcher, FetchingAheadNeverDelaysAUsersClick) {
    Rig rig(60ms);
    const QList<int> ids = {101, 102, 103, 104, 105, 106};
    rig.site.serveMatches(ids);
    rig.prefetcher.start(listOf(ids));
    waitFor([&] { return rig.site.aheadAsks() >= 1; });

    const auto clickStart = Clock::now();
    const std::unique_ptr<Web> user = rig.userWeb();
    for (int id : {105, 106, 104}) {
        const FetchOutcome outcome = user->fetch(pageGet(TwoTeamWorld::pageUrl(kBase, id)));
        ASSERT_TRUE(outcome.ok()) << outcome.error.toStdString();
    }
    const auto clickEnd = Clock::now();
    EXPECT_LT(clickEnd - clickStart, 50ms) << "the click waited for fetching ahead";
    rig.prefetcher.waitIdle();
    for (const SlowSite::Ask &a : rig.site.asks()) {
        if (a.ahead) {
            EXPECT_FALSE(a.start > clickStart && a.start < clickEnd + 90ms)
                << "fetched ahead during a click: " << a.url.toStdString();
        }
    }

    const int asked = rig.site.aheadAsks();
    EXPECT_LE(asked, int(ids.size()) * 3);
    // Every listed page came in: the next click on one asks the site nothing.
    const qsizetype before = rig.site.asks().size();
    const std::unique_ptr<Web> click = rig.userWeb();
    EXPECT_TRUE(click->fetch(pageGet(TwoTeamWorld::pageUrl(kBase, 101))).response->fromCache);
    TwoTeamWorld world;
    HttpRequest extension = pageGet(TwoTeamWorld::pageUrl(kBase, world.homeMatch(world.listed - 1).matchId));
    extension.lifetime = HttpRequest::Lifetime::Final;
    EXPECT_TRUE(click->fetch(extension).response->fromCache);
    EXPECT_EQ(rig.site.asks().size(), before);
}

// A new list ends the fetching ahead for the old one at once: no page of the
// old list is asked for after the new list came, and the new list is done.
TEST(Prefetcher, NewListCancelsTheOldFetchingAhead) {
    Rig rig(40ms);
    const QList<int> oldList = {201, 202, 203, 204, 205, 206, 207, 208};
    const QList<int> newList = {301, 302, 303};
    rig.site.serveMatches(oldList + newList);
    std::atomic<bool> newListFinished{false};
    rig.prefetcher.setProgressHook([&](const AheadProgress &p) {
        if (p.finished && p.total >= int(newList.size()))
            newListFinished = true;
    });
    rig.prefetcher.start(listOf(oldList));
    waitFor([&] { return rig.site.aheadAsks() >= 2; });
    const auto switched = Clock::now();
    rig.prefetcher.start(listOf(newList));
    rig.prefetcher.waitIdle();

    QSet<QString> oldUrls;
    for (int id : oldList)
        oldUrls.insert(TwoTeamWorld::pageUrl(kBase, id));
    int oldAfter = 0;
    QSet<QString> newAsked;
    for (const SlowSite::Ask &a : rig.site.asks()) {
        if (a.start > switched && oldUrls.contains(a.url))
            ++oldAfter;
        if (a.start > switched)
            newAsked.insert(a.url);
    }
    EXPECT_EQ(oldAfter, 0);
    for (int id : newList)
        EXPECT_TRUE(newAsked.contains(TwoTeamWorld::pageUrl(kBase, id))) << id;
    EXPECT_TRUE(newListFinished);

    // Switched off, a list fetches nothing ahead.
    const int asked = rig.site.aheadAsks();
    rig.prefetcher.setEnabled(false);
    rig.prefetcher.start(listOf({401, 402}));
    rig.prefetcher.waitIdle();
    EXPECT_EQ(rig.site.aheadAsks(), asked);
}
