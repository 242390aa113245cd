#include "support/FakeWeb.h"
#include "support/ScriptedWeb.h"
#include "net/PoliteWeb.h"

#include <QTimeZone>

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace chenglan;
using namespace std::chrono_literals;
using chenglan::testing::FakeWeb;
using chenglan::testing::ScriptedWeb;
using Failure = FetchOutcome::Failure;
using std::chrono::milliseconds;

namespace {

// Time that moves only when a wait or the test moves it. With blockWaits set,
// a wait lasts until the fetch is aborted.
class ManualClock : public PoliteClock {
public:
    TimePoint now() const override {
        const std::lock_guard lock(m_mutex);
        return m_now;
    }
    QDateTime utcNow() const override { return wall; }
    bool sleepUntil(TimePoint until, StopSignal &stop) override {
        if (blockWaits) {
            waiting.set_value();
            return stop.waitUntil(std::nullopt);
        }
        if (stop.raised())
            return false;
        const std::lock_guard lock(m_mutex);
        m_now = std::max(m_now, until);
        return true;
    }
    void advance(milliseconds by) {
        const std::lock_guard lock(m_mutex);
        m_now += by;
    }

    QDateTime wall = QDateTime(QDate(2024, 5, 1), QTime(12, 0), QTimeZone::utc());
    bool blockWaits = false;
    std::promise<void> waiting;

private:
    mutable std::mutex m_mutex;
    TimePoint m_now{};
};

HttpRequest get(const QString &url) { return {HttpRequest::Method::Get, url, {}}; }

// A schedule on a manual clock, and the waits each Web reports.
struct Polite {
    explicit Polite(HostSpacing spacing = {})
        : clock(std::make_shared<ManualClock>()), schedule(std::make_shared<HostSchedule>(spacing, clock)) {}

    std::unique_ptr<PoliteWeb> wrap(Web &inner) {
        auto web = std::make_unique<PoliteWeb>(inner, schedule);
        web->setWaitHook([this](const HostWait &w) { waits.append(w.text()); });
        return web;
    }

    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<HostSchedule> schedule;
    QStringList waits;
};

FakeWeb sitesAnswering(const QStringList &urls) {
    FakeWeb web;
    for (const QString &url : urls)
        web.add(url, "page");
    return web;
}

const QString kA1 = QStringLiteral("http://a.test/1"), kA2 = QStringLiteral("http://a.test:8080/2");
const QString kB1 = QStringLiteral("http://b.test/1");

} // namespace

TEST(PoliteWeb, SpacesRequestsToOneHostByTheGap) {
    Polite polite;
    FakeWeb site = sitesAnswering({kA1, kA2, kB1});
    auto web = polite.wrap(site);

    EXPECT_TRUE(web->fetch(get(kA1)).ok());
    EXPECT_TRUE(web->fetch(get(kA2)).ok()); // same host, another port
    EXPECT_TRUE(web->fetch(get(kB1)).ok()); // another host: its own turn
    EXPECT_EQ(polite.waits, QStringList{QStringLiteral("waiting on host a.test for 200 ms")});
    EXPECT_EQ(site.requests, (QStringList{kA1, kA2, kB1}));

    // Once the gap has passed on its own, nobody waits.
    polite.clock->advance(1s);
    EXPECT_TRUE(web->fetch(get(kA1)).ok());
    EXPECT_EQ(polite.waits.size(), 1);
}

TEST(PoliteWeb, GapIsConfigurableAndSharedByEveryWebOfTheSchedule) {
    Polite polite(HostSpacing{milliseconds(1500), milliseconds(0)});
    FakeWeb homeSite = sitesAnswering({kA1}), awaySite = sitesAnswering({kA2});
    auto homeJob = polite.wrap(homeSite);
    auto awayJob = polite.wrap(awaySite);

    homeJob->fetch(get(kA1));
    awayJob->fetch(get(kA2));
    EXPECT_EQ(polite.waits, QStringList{QStringLiteral("waiting on host a.test for 1500 ms")});

    // A separate schedule knows nothing of these turns.
    Polite other;
    auto unrelated = other.wrap(homeSite);
    unrelated->fetch(get(kA1));
    EXPECT_TRUE(other.waits.isEmpty());
}

TEST(PoliteWeb, LoopbackIsNotSpacedUnlessAsked) {
    const QStringList local = {QStringLiteral("http://127.0.0.1:18080/odds/"), QStringLiteral("http://localhost/x"),
                               QStringLiteral("http://[::1]:18081/y"), QStringLiteral("http://127.0.0.2/z")};
    Polite polite;
    FakeWeb site = sitesAnswering(local);
    auto web = polite.wrap(site);
    for (int round = 0; round < 3; ++round)
        for (const QString &url : local)
            EXPECT_TRUE(web->fetch(get(url)).ok());
    EXPECT_TRUE(polite.waits.isEmpty());

    Polite slowLocal(HostSpacing{milliseconds(200), milliseconds(50)});
    auto spaced = slowLocal.wrap(site);
    spaced->fetch(get(local[0]));
    spaced->fetch(get(local[0]));
    EXPECT_EQ(slowLocal.waits, QStringList{QStringLiteral("waiting on host 127.0.0.1 for 50 ms")});

    EXPECT_FALSE(isLoopbackHost(QStringLiteral("127.0.0.1.example.test")));
    EXPECT_FALSE(isLoopbackHost(QStringLiteral("10.0.0.1")));
    EXPECT_TRUE(isLoopbackHost(QStringLiteral("LOCALHOST")));
}

TEST(PoliteWeb, ATurnBeyondTheTimeBoundFailsAtOnceAndIsNotTaken) {
    Polite polite(HostSpacing{milliseconds(30000), milliseconds(0)});
    FakeWeb site = sitesAnswering({kA1});
    auto web = polite.wrap(site);
    web->fetch(get(kA1));
    const FetchOutcome late = web->fetch(get(kA1));
    EXPECT_EQ(late.failure, Failure::Timeout);
    EXPECT_TRUE(late.error.startsWith(QStringLiteral("host a.test cannot be asked within")))
        << late.error.toStdString();
    EXPECT_EQ(site.requests.size(), 1);
    EXPECT_TRUE(polite.waits.isEmpty());

    // The refused turn did not push the next one further back.
    polite.clock->advance(30s);
    EXPECT_TRUE(web->fetch(get(kA1)).ok());
    EXPECT_TRUE(polite.waits.isEmpty());
}

TEST(PoliteWeb, RetryAfterIsHonouredOnce) {
    Polite polite;
    ScriptedWeb site;
    site.then(kA1, 503, "busy", {{"Retry-After", "3"}});
    site.then(kA1, 200, "page");
    site.then(kB1, 429, "slow down", {{"Retry-After", "1"}});
    auto web = polite.wrap(site);

    const FetchOutcome page = web->fetch(get(kA1));
    ASSERT_TRUE(page.ok());
    EXPECT_EQ(page.response->body, "page");
    EXPECT_EQ(polite.waits,
              QStringList{QStringLiteral("waiting on host a.test for 3000 ms (it asked to retry later)")});

    // A site that keeps refusing is asked twice, not more.
    const FetchOutcome refused = web->fetch(get(kB1));
    ASSERT_TRUE(refused.ok());
    EXPECT_EQ(refused.response->status, 429);
    EXPECT_EQ(site.requests, (QStringList{kA1, kA1, kB1, kB1}));
}

TEST(PoliteWeb, RetryAfterOnlyWithinTheFetchTimeBound) {
    Polite polite;
    ScriptedWeb site;
    site.then(kA1, 503, "busy", {{"Retry-After", "30"}});
    site.then(kA1, 200, "page");
    auto web = polite.wrap(site);
    const FetchOutcome busy = web->fetch(get(kA1));
    ASSERT_TRUE(busy.ok());
    EXPECT_EQ(busy.response->status, 503);
    EXPECT_EQ(site.requests.size(), 1);
    EXPECT_TRUE(polite.waits.isEmpty());

    // The first answer's own time counts: 15 s spent plus 10 s asked is too long.
    ScriptedWeb slowSite;
    slowSite.onFetch = [&](const HttpRequest &) { polite.clock->advance(15s); };
    slowSite.then(kB1, 429, "later", {{"Retry-After", "10"}});
    slowSite.then(kB1, 200, "page");
    auto slow = polite.wrap(slowSite);
    EXPECT_EQ(slow->fetch(get(kB1)).response->status, 429);
    EXPECT_EQ(slowSite.requests.size(), 1);

    // A longer bound lets the same wait happen.
    site.then(kA2, 503, "busy", {{"Retry-After", "30"}});
    site.then(kA2, 200, "page");
    web->setTimeBound(60s);
    EXPECT_EQ(web->fetch(get(kA2)).response->status, 200);
}

TEST(PoliteWeb, EachExchangeIsToldTheTimeTheFetchHasSpent) {
    // The client's own deadline then ends the whole fetch in time: the
    // repeat gets what is left of the bound, not a fresh one.
    Polite polite;
    ScriptedWeb site;
    QList<milliseconds> spent;
    site.onFetch = [&](const HttpRequest &request) {
        spent.append(request.spent);
        polite.clock->advance(2s); // each exchange takes 2 s
    };
    site.then(kA1, 503, "busy", {{"Retry-After", "5"}});
    site.then(kA1, 200, "page");
    auto web = polite.wrap(site);
    ASSERT_EQ(web->fetch(get(kA1)).response->status, 200);
    EXPECT_EQ(spent, (QList<milliseconds>{0ms, 7000ms}));
}

TEST(PoliteWeb, RetryAfterOnlyFor429And503) {
    Polite polite;
    ScriptedWeb site;
    site.then(kA1, 500, "broken", {{"Retry-After", "1"}});
    site.then(kB1, 503, "down", {});
    auto web = polite.wrap(site);
    EXPECT_EQ(web->fetch(get(kA1)).response->status, 500);
    EXPECT_EQ(web->fetch(get(kB1)).response->status, 503);
    EXPECT_EQ(site.requests.size(), 2);
    EXPECT_TRUE(polite.waits.isEmpty());
}

TEST(PoliteWeb, RetryAfterDateCountsFromTheAnswersDate) {
    Polite polite;
    ScriptedWeb site;
    site.then(kA1, 503, "busy",
              {{"Date", "Wed, 21 Oct 2015 07:28:00 GMT"}, {"Retry-After", "Wed, 21 Oct 2015 07:28:07 GMT"}});
    site.then(kA1, 200, "page");
    auto web = polite.wrap(site);
    EXPECT_EQ(web->fetch(get(kA1)).response->status, 200);
    EXPECT_EQ(polite.waits,
              QStringList{QStringLiteral("waiting on host a.test for 7000 ms (it asked to retry later)")});
}

TEST(ParseRetryAfter, SecondsAndTheThreeHttpDateForms) {
    const QDateTime now(QDate(1994, 11, 6), QTime(8, 49, 30), QTimeZone::utc());
    EXPECT_EQ(parseRetryAfter("120", now), milliseconds(120000));
    EXPECT_EQ(parseRetryAfter(" 0 ", now), milliseconds(0));
    EXPECT_EQ(parseRetryAfter("Sun, 06 Nov 1994 08:49:37 GMT", now), milliseconds(7000));
    EXPECT_EQ(parseRetryAfter("Sunday, 06-Nov-94 08:49:37 GMT", now), milliseconds(7000));
    EXPECT_EQ(parseRetryAfter("Sun Nov  6 08:49:37 1994", now), milliseconds(7000));
    EXPECT_EQ(parseRetryAfter("Sun, 06 Nov 1994 08:00:00 GMT", now), milliseconds(0)); // already past
    EXPECT_GE(parseRetryAfter("99999999999999999999", now), milliseconds(std::chrono::hours(24 * 365)));
    for (const char *bad : {"", "soon", "-5", "1.5", "Sun, 31 Feb 1994 08:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 CET"})
        EXPECT_EQ(parseRetryAfter(bad, now), std::nullopt) << bad;
}

TEST(PoliteWeb, AbortEndsAWaitAndEveryLaterFetch) {
    Polite polite;
    polite.clock->blockWaits = true;
    std::future<void> waiting = polite.clock->waiting.get_future();
    ScriptedWeb site;
    site.then(kA1, 200, "page");
    auto web = polite.wrap(site);
    web->fetch(get(kA1));

    FetchOutcome second;
    std::thread job([&] { second = web->fetch(get(kA1)); });
    waiting.wait();
    web->abort();
    job.join();

    EXPECT_EQ(second.failure, Failure::Aborted);
    EXPECT_EQ(site.requests.size(), 1);
    EXPECT_TRUE(site.aborted);
    EXPECT_EQ(web->fetch(get(kB1)).failure, Failure::Aborted);
    EXPECT_EQ(site.requests.size(), 1);
}

TEST(PoliteWeb, AbortWakesARealWait) {
    // An hour's gap on the real clock: only the abort can end this wait.
    auto schedule = std::make_shared<HostSchedule>(HostSpacing{std::chrono::hours(1), milliseconds(0)});
    FakeWeb site = sitesAnswering({kA1});
    PoliteWeb web(site, schedule);
    web.setTimeBound(std::chrono::hours(2));
    std::promise<void> waiting;
    web.setWaitHook([&](const HostWait &) { waiting.set_value(); });
    web.fetch(get(kA1));

    FetchOutcome second;
    std::thread job([&] { second = web.fetch(get(kA1)); });
    waiting.get_future().wait();
    web.abort();
    job.join();
    EXPECT_EQ(second.failure, Failure::Aborted);
}

TEST(HostSchedule, HoldsAHostThatAskedToWait) {
    auto clock = std::make_shared<ManualClock>();
    HostSchedule schedule(HostSpacing{}, clock);
    const auto t0 = clock->now();
    schedule.holdUntil(QStringLiteral("a.test"), t0 + 5s);
    schedule.holdUntil(QStringLiteral("a.test"), t0 + 1s); // never shortens a hold
    EXPECT_EQ(schedule.reserve(QStringLiteral("a.test"), t0 + 20s), t0 + 5s);
    EXPECT_EQ(schedule.reserve(QStringLiteral("a.test"), t0 + 20s), t0 + 5s + kHostGap);
    EXPECT_EQ(schedule.reserve(QStringLiteral("b.test"), t0 + 20s), t0);
}
