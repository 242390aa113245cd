// Page answers per second of the sample site over loopback: an in-process
// server on a free port, clients on keep-alive connections.

#include "SampleSite.h"
#include "SiteServer.h"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <QDate>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace chenglan::sample;

namespace {

const QDate kToday(2022, 10, 9);

struct RunningSite {
    SampleSite site{World::generate(World::kDefaultSeed, kToday.addDays(14)), SampleSite::fixedClock(kToday),
                    QStringLiteral("http://127.0.0.1:18081/")};
    SiteServer server{site};
    int port = server.bind(0);
    std::thread thread{[this] { server.listen(); }};
    std::vector<std::string> analysisPaths, detailPaths;

    RunningSite() {
        for (const Match *m :
             site.world().kickingOffBetween(minutesAt(kToday.addDays(-30)), minutesAt(kToday.addDays(7)))) {
            analysisPaths.push_back("/zq/analysis/" + std::to_string(m->id) + "cn.htm");
            detailPaths.push_back("/vip/changeDetail/handicap.aspx?id=" + std::to_string(m->id) + "&companyID=3");
        }
    }
    ~RunningSite() {
        server.stop();
        thread.join();
    }
};

RunningSite &site() {
    static RunningSite running;
    return running;
}

void countPages(benchmark::State &state, std::size_t bytes) {
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(std::int64_t(bytes));
}

void BM_AnalysisPage(benchmark::State &state) {
    RunningSite &s = site();
    httplib::Client client("127.0.0.1", s.port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    std::size_t i = std::size_t(state.thread_index()) * 997, bytes = 0;
    for (auto _ : state) {
        const auto r = client.Get(s.analysisPaths[i++ % s.analysisPaths.size()].c_str());
        if (!r || r->status != 200) {
            state.SkipWithError("no page");
            break;
        }
        bytes += r->body.size();
    }
    countPages(state, bytes);
}

void BM_JingcaiPage(benchmark::State &state) {
    RunningSite &s = site();
    httplib::Client client("127.0.0.1", s.port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    int day = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const QDate d = kToday.addDays(-(day++ % 60));
        const std::string path = "/odds/buy/Jingcai.aspx?TypeID=105&OddsType=2&date="
                                 + QStringLiteral("%1-%2-%3").arg(d.year()).arg(d.month()).arg(d.day()).toStdString();
        const auto r = client.Post(path.c_str(), "", "application/x-www-form-urlencoded");
        if (!r || r->status != 200) {
            state.SkipWithError("no page");
            break;
        }
        bytes += r->body.size();
    }
    countPages(state, bytes);
}

void BM_DetailPage(benchmark::State &state) {
    RunningSite &s = site();
    httplib::Client client("127.0.0.1", s.port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    std::size_t i = 0, bytes = 0;
    for (auto _ : state) {
        const auto r =
            client.Post(s.detailPaths[i++ % s.detailPaths.size()].c_str(), "", "application/x-www-form-urlencoded");
        if (!r || r->status != 200) {
            state.SkipWithError("no page");
            break;
        }
        bytes += r->body.size();
    }
    countPages(state, bytes);
}

// The page building alone, without sockets.
void BM_AnswerWithoutHttp(benchmark::State &state) {
    RunningSite &s = site();
    std::size_t i = 0, bytes = 0;
    for (auto _ : state) {
        const Reply r = s.site.answer(QString::fromStdString(s.analysisPaths[i++ % s.analysisPaths.size()]), {});
        bytes += std::size_t(r.body.size());
        benchmark::DoNotOptimize(r.body.data());
    }
    countPages(state, bytes);
}

} // namespace

BENCHMARK(BM_AnalysisPage)->UseRealTime()->Threads(1)->Threads(2)->Threads(4);
BENCHMARK(BM_JingcaiPage)->UseRealTime();
BENCHMARK(BM_DetailPage)->UseRealTime();
BENCHMARK(BM_AnswerWithoutHttp);

BENCHMARK_MAIN();
