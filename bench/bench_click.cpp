// A whole list click against the sample site on loopback: the match's page,
// both extension pages and the model, as the window's job runs it. Reports
// the median over 50 clicks on the listed matches of a few days, and how the
// time splits into fetching, rendering and the model.

#include "SampleSite.h"
#include "SiteServer.h"

#include "analysis/ListAnalysis.h"
#include "model/GridFormats.h"
#include "model/ScheduleListing.h"
#include "web/QtWeb.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <thread>
#include <vector>

using namespace chenglan;
using namespace chenglan::sample;

namespace {

const QDate kToday(2022, 10, 9);
constexpr int kClicks = 50;

struct RunningSite {
    SampleSite site{World::generate(World::kDefaultSeed, kToday.addDays(14)), SampleSite::fixedClock(kToday),
                    QStringLiteral("http://127.0.0.1:18081/")};
    SiteServer server{site};
    int port = server.bind(0);
    std::thread thread{[this] { server.listen(); }};

    ~RunningSite() {
        server.stop();
        thread.join();
    }
    SiteBases bases() const {
        const QString root = QStringLiteral("http://127.0.0.1:%1/").arg(port);
        SiteBases b;
        b.odds = root + QStringLiteral("odds/");
        b.analysis = root + QStringLiteral("zq/");
        b.detail = root + QStringLiteral("vip/");
        return b;
    }
};

RunningSite &site() {
    static RunningSite running;
    return running;
}

// The listed matches of the schedules of a few days, as (schedule, row key).
struct Click {
    const ScheduleState *schedule;
    Value rowKey;
};

struct Listings {
    std::vector<ScheduleListing> days;
    std::vector<Click> clicks;
};

const Listings &listings() {
    static const Listings all = [] {
        Listings l;
        QtWeb web;
        for (int d = 0; d < 7 && l.days.size() < 7; ++d) {
            ScheduleRequest request;
            const QDate day = kToday.addDays(-d);
            request.selectedDate = QStringLiteral("%1-%2-%3").arg(day.year()).arg(day.month()).arg(day.day());
            l.days.push_back(listSchedule(request, web, site().bases(), PageRenderer()));
        }
        for (const ScheduleListing &day : l.days)
            for (int r = 1; r < day.grid.rows(); ++r)
                l.clicks.push_back({&day.state, Value(day.grid.text(r, MatchListKeyColumn))});
        return l;
    }();
    return all;
}

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void click(benchmark::State &state, bool sideBySide) {
    const Listings &l = listings();
    if (l.clicks.empty()) {
        state.SkipWithError("the sample site lists no match");
        return;
    }
    const SiteBases bases = site().bases();
    const PageRenderer renderer;
    QtWeb web, second;
    const AnalysisContext context{web, bases, renderer, sideBySide ? &second : nullptr, {}};
    AnalysisState s;
    analyzeListRow(s, *l.clicks[0].schedule, l.clicks[0].rowKey, context); // warm up

    std::vector<double> wall, fetch, render, model;
    std::size_t i = 0;
    int failed = 0;
    for (auto _ : state) {
        const Click &c = l.clicks[i++ % l.clicks.size()];
        const auto start = std::chrono::steady_clock::now();
        const AnalysisRun run = analyzeListRow(s, *c.schedule, c.rowKey, context);
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        fetch.push_back(run.pages.fetchNs / 1e6);
        render.push_back(run.pages.renderNs / 1e6);
        model.push_back(run.modelNs / 1e6);
        if (!run.pageRead)
            ++failed;
    }
    if (failed)
        state.SkipWithError("a match's page could not be read");
    // Fetching and rendering of the two extension pages overlap when they run
    // side by side; the shares are of the summed component times.
    const double f = median(fetch), r = median(render), m = median(model);
    const double total = f + r + m;
    state.counters["median_ms"] = median(wall);
    state.counters["fetch_ms"] = f;
    state.counters["render_ms"] = r;
    state.counters["model_ms"] = m;
    state.counters["fetch_share"] = total > 0 ? f / total : 0;
    state.counters["render_share"] = total > 0 ? r / total : 0;
    state.counters["model_share"] = total > 0 ? m / total : 0;
    state.counters["matches"] = double(l.clicks.size());
}

void BM_ListClick(benchmark::State &state) { click(state, true); }
void BM_ListClickOneByOne(benchmark::State &state) { click(state, false); }

} // namespace

BENCHMARK(BM_ListClick)->Iterations(kClicks)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListClickOneByOne)->Iterations(kClicks)->Unit(benchmark::kMillisecond)->UseRealTime();

// QtWeb's local event loop and the page scripts' engine need an application.
int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
