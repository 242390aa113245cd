// The data service under load on loopback: a database of synthetic analysed
// matches (one million by default), the service started in-process, and
// small load clients that send the similar-match query as the window does.
//
//   bench_service [--db FILE] [--profiles N] [benchmark options]
//   bench_service --replicas postgresql://... [--profiles N] [benchmark options]
//
// The database is filled once and kept (default /tmp/chenglan-bench-service.db).
// With --replicas, the PostgreSQL database is filled instead and two services
// serve it; BM_TwoReplicasThroughput spreads its clients over both.
// Reported: median and 99th-percentile latency of one query from one client,
// requests per second from several concurrent clients, and the in-memory
// search alone.

#include "DataService.h"
#include "MatchStore.h"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <QDateTime>
#include <QFile>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <mutex>
#include <random>

using namespace chenglan::dataservice;

namespace {

QString g_database = QStringLiteral("/tmp/chenglan-bench-service.db");
qint64 g_profiles = 1'000'000;
DataService *g_service = nullptr;
int g_port = 0;
// Two services on one PostgreSQL database (--replicas).
QString g_replicaDatabase;
int g_replicaPorts[2] = {0, 0};

// Strength profiles shaped like the analysis's: forecasts and earlier points
// near the newest values, pattern codes derived as the client derives them.
class ProfileGenerator {
public:
    explicit ProfileGenerator(unsigned seed) : m_random(seed) {}

    MatchProfile next(qint64 id) {
        std::normal_distribution<double> base(0.0, 0.5), drift(0.0, 0.1), tenMatch(0.0, 0.3), step(0.0, 0.08);
        const double s0 = base(m_random), s1 = base(m_random);
        const double s4 = s0 + tenMatch(m_random), s5 = s1 + tenMatch(m_random);
        const double values[8] = {s0, s1, s0 + drift(m_random), s1 + drift(m_random),
                                  s4, s5, s4 + step(m_random),  s5 + step(m_random)};
        MatchProfile p;
        p.matchId = id;
        for (int k = 0; k < 8; ++k)
            p.strengths[k] = std::int32_t(std::lround(values[k] * 100));
        const Strengths &s = p.strengths;
        const auto direction = [](std::int32_t earlier, std::int32_t later) {
            return std::abs(later - earlier) <= 1 ? '1' : later > earlier ? '3' : '0';
        };
        const char c20[] = {s[0] > s[1] ? 'A' : 'B', direction(s[0], s[2]), direction(s[1], s[3]), 0};
        const char c10[] = {s[4] > s[5] ? 'C' : 'D', direction(s[6], s[4]), direction(s[7], s[5]), 0};
        p.code20 = QString::fromLatin1(c20);
        p.code10 = QString::fromLatin1(c10);
        return p;
    }

    std::string queryPath(qint64 excludedId) {
        const MatchProfile p = next(excludedId);
        std::string path = "/shili/deep_jc.asp?sql=";
        for (auto v : p.strengths)
            path += hundredthsText(v).toStdString() + ",";
        return path + p.code20.toStdString() + "," + p.code10.toStdString() + "," + std::to_string(excludedId);
    }

private:
    std::mt19937_64 m_random;
};

void fillDatabase(const QString &where) {
    MatchStore store(where);
    const qint64 have = store.profileCount();
    if (have >= g_profiles)
        return;
    std::fprintf(stderr, "filling %s with %lld synthetic analysed matches...\n", qPrintable(displayAddress(where)),
                 static_cast<long long>(g_profiles));
    QElapsedTimer timer;
    timer.start();
    ProfileGenerator generator(1);
    std::mt19937 random(2);
    std::uniform_int_distribution<int> goals(0, 4), minute(0, 10 * 365 * 1440);
    const qint64 batch = 50'000;
    for (qint64 id = 1; id <= g_profiles; id += batch) {
        store.beginBatch();
        for (qint64 i = id; i < std::min(id + batch, g_profiles + 1); ++i) {
            MatchFacts f;
            f.matchId = i;
            f.league = QStringLiteral("联赛%1").arg(i % 40);
            f.leagueColour = QStringLiteral("#%1").arg(int(i * 2654435761u % 0xffffff), 6, 16, QLatin1Char('0'));
            f.homeTeam = QStringLiteral("主队%1").arg(i % 900);
            f.awayTeam = QStringLiteral("客队%1").arg((i * 7) % 900);
            const QDateTime kickoff =
                QDateTime(QDate(2014, 1, 1), QTime(0, 0), Qt::UTC).addSecs(qint64(minute(random)) * 60);
            f.kickoff = kickoff.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
            f.halfTimeHome = goals(random) / 2;
            f.halfTimeAway = goals(random) / 2;
            f.fullTimeHome = *f.halfTimeHome + goals(random) / 2;
            f.fullTimeAway = *f.halfTimeAway + goals(random) / 2;
            f.handicap = QStringLiteral("半球");
            f.handicapLine = 0.5;
            f.homeOdds = 0.95;
            f.awayOdds = 0.89;
            store.upsertMatch(f);
            store.upsertProfile(generator.next(i));
        }
        store.commitBatch();
        std::fprintf(stderr, "  %lld\n", static_cast<long long>(std::min(id + batch - 1, g_profiles)));
    }
    std::fprintf(stderr, "filled in %.1f s\n", timer.elapsed() / 1000.0);
}

std::string residentMemory() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return "?";
    std::string resident = "?", peak = "?";
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            resident = line.mid(6).trimmed().toStdString();
        else if (line.startsWith("VmHWM:"))
            peak = line.mid(6).trimmed().toStdString();
    }
    return resident + " (peak " + peak + ")";
}

std::unique_ptr<httplib::Client> client(int port = g_port) {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port);
    c->set_url_encode(false);
    c->set_keep_alive(true);
    c->set_tcp_nodelay(true);
    c->set_read_timeout(10, 0); // every request bounded in time
    return c;
}

double percentile(std::vector<double> &values, double p) {
    if (values.empty())
        return 0;
    const std::size_t at = std::min(values.size() - 1, std::size_t(p * double(values.size())));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(at), values.end());
    return values[at];
}

void reportLatencies(benchmark::State &state, std::vector<double> &micros, int failures) {
    state.counters["p50_us"] = percentile(micros, 0.50);
    state.counters["p99_us"] = percentile(micros, 0.99);
    state.counters["max_us"] = micros.empty() ? 0 : *std::max_element(micros.begin(), micros.end());
    state.counters["failed"] = failures;
}

// The search alone, without HTTP or database.
void BM_SearchInMemory(benchmark::State &state) {
    if (!g_service) {
        state.SkipWithError("no single service in this run (--replicas)");
        return;
    }
    ProfileGenerator generator(3);
    std::vector<SimilarQuery> queries;
    for (int i = 0; i < 1000; ++i) {
        const MatchProfile p = generator.next(i);
        queries.push_back(SimilarQuery{{p.strengths, p.code20, p.code10}, i});
    }
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(g_service->index().search(queries[i++ % queries.size()]));
}
BENCHMARK(BM_SearchInMemory)->Unit(benchmark::kMicrosecond);

// A pattern pair no match has: every group is a candidate for the rest.
void BM_SearchUnknownCodes(benchmark::State &state) {
    if (!g_service) {
        state.SkipWithError("no single service in this run (--replicas)");
        return;
    }
    ProfileGenerator generator(4);
    const MatchProfile p = generator.next(1);
    const SimilarQuery query{{p.strengths, QStringLiteral("X99"), QStringLiteral("X99")}, std::nullopt};
    for (auto _ : state)
        benchmark::DoNotOptimize(g_service->index().search(query));
}
BENCHMARK(BM_SearchUnknownCodes)->Unit(benchmark::kMicrosecond);

// The whole answer without HTTP: parsing, search and the record bytes.
void BM_AnswerQuery(benchmark::State &state) {
    if (!g_service) {
        state.SkipWithError("no single service in this run (--replicas)");
        return;
    }
    ProfileGenerator generator(7);
    std::vector<std::string> queries;
    for (int i = 0; i < 1000; ++i)
        queries.push_back(generator.queryPath(i + 1).substr(std::strlen("/shili/deep_jc.asp?")));
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(g_service->answerQuery(queries[i++ % queries.size()]));
}
BENCHMARK(BM_AnswerQuery)->Unit(benchmark::kMicrosecond);

// One client, one query after the other: the latency the window sees.
void BM_QueryLatency(benchmark::State &state) {
    if (!g_service) {
        state.SkipWithError("no single service in this run (--replicas)");
        return;
    }
    auto c = client();
    ProfileGenerator generator(5);
    std::mt19937 random(6);
    std::uniform_int_distribution<qint64> id(1, g_profiles);
    std::vector<double> micros;
    micros.reserve(std::size_t(state.max_iterations));
    int failures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = generator.queryPath(id(random));
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        const auto res = c->Post(path);
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        if (!res || res->status != 200 || res->body.empty())
            ++failures;
    }
    reportLatencies(state, micros, failures);
}
BENCHMARK(BM_QueryLatency)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Several clients at once, each on its own connection: requests per second
// is items_per_second.
void BM_QueryThroughput(benchmark::State &state) {
    if (!g_service) {
        state.SkipWithError("no single service in this run (--replicas)");
        return;
    }
    auto c = client();
    ProfileGenerator generator(100 + unsigned(state.thread_index()));
    std::mt19937 random(200 + unsigned(state.thread_index()));
    std::uniform_int_distribution<qint64> id(1, g_profiles);
    std::vector<std::string> paths;
    for (int i = 0; i < 2000; ++i)
        paths.push_back(generator.queryPath(id(random)));
    std::vector<double> micros;
    int failures = 0;
    std::size_t i = 0;
    const auto began = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const auto res = c->Post(paths[i++ % paths.size()]);
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        if (!res || res->status != 200)
            ++failures;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    state.SetItemsProcessed(state.iterations());
    // Each thread's own rate; counters add up over the threads.
    state.counters["rps"] = double(state.iterations()) / seconds;
    // Per-thread figures, averaged over the threads.
    state.counters["p50_us"] = benchmark::Counter(percentile(micros, 0.50), benchmark::Counter::kAvgThreads);
    state.counters["p99_us"] = benchmark::Counter(percentile(micros, 0.99), benchmark::Counter::kAvgThreads);
    state.counters["failed"] = failures; // summed over the threads
}
BENCHMARK(BM_QueryThroughput)->Threads(2)->Threads(4)->Iterations(5000)->UseRealTime()->Unit(benchmark::kMicrosecond);
// As many clients as the service has workers: every reconnection after a
// keep-alive's last answer briefly leaves a connection waiting, the moment
// at which kept-alive connections used to be closed under a query in
// flight. 100,000 queries, so that a lost one in 100,000 shows.
BENCHMARK(BM_QueryThroughput)->Threads(8)->Iterations(12500)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Clients spread over two services on one PostgreSQL database, each client
// on its own connection to one of them (even threads the first, odd the
// second), as a proxy balancing by connection would spread them.
void BM_TwoReplicasThroughput(benchmark::State &state) {
    if (g_replicaPorts[0] == 0) {
        state.SkipWithError("no replicas in this run (--replicas postgresql://...)");
        return;
    }
    auto c = client(g_replicaPorts[state.thread_index() % 2]);
    ProfileGenerator generator(300 + unsigned(state.thread_index()));
    std::mt19937 random(400 + unsigned(state.thread_index()));
    std::uniform_int_distribution<qint64> id(1, g_profiles);
    std::vector<std::string> paths;
    for (int i = 0; i < 2000; ++i)
        paths.push_back(generator.queryPath(id(random)));
    std::vector<double> micros;
    int failures = 0;
    std::size_t i = 0;
    const auto began = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const auto res = c->Post(paths[i++ % paths.size()]);
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        if (!res || res->status != 200 || res->body.empty())
            ++failures;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    state.SetItemsProcessed(state.iterations());
    state.counters["rps"] = double(state.iterations()) / seconds;
    state.counters["p50_us"] = benchmark::Counter(percentile(micros, 0.50), benchmark::Counter::kAvgThreads);
    state.counters["p99_us"] = benchmark::Counter(percentile(micros, 0.99), benchmark::Counter::kAvgThreads);
    state.counters["failed"] = failures;
    state.counters["profiles"] = benchmark::Counter(double(g_profiles), benchmark::Counter::kAvgThreads);
}
BENCHMARK(BM_TwoReplicasThroughput)->Threads(8)->Iterations(5000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The two replicas' run: fill the PostgreSQL database, start both, measure.
int runReplicas() {
    fillDatabase(g_replicaDatabase);
    ServiceOptions options;
    options.databasePath = g_replicaDatabase;
    QElapsedTimer timer;
    timer.start();
    DataService first(options), second(options);
    std::fprintf(stderr, "replicas: two services loaded %zu profiles each from PostgreSQL in %.1f s, resident %s\n",
                 first.index().size(), timer.elapsed() / 1000.0, residentMemory().c_str());
    g_replicaPorts[0] = first.start(0);
    g_replicaPorts[1] = second.start(0);
    if (g_replicaPorts[0] == 0 || g_replicaPorts[1] == 0) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fprintf(stderr, "replicas: connections refused as busy: %zu and %zu\n", first.refusedConnections(),
                 second.refusedConnections());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<char *> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--db" && i + 1 < argc)
            g_database = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--replicas" && i + 1 < argc)
            g_replicaDatabase = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--profiles" && i + 1 < argc)
            g_profiles = std::max<qint64>(1, std::atoll(argv[++i]));
        else
            rest.push_back(argv[i]);
    }
    int restCount = int(rest.size());
    benchmark::Initialize(&restCount, rest.data());

    if (!g_replicaDatabase.isEmpty()) {
        try {
            return runReplicas();
        } catch (const StoreError &e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    fillDatabase(g_database);
    QElapsedTimer timer;
    timer.start();
    ServiceOptions options;
    options.databasePath = g_database;
    options.refreshInterval = std::chrono::milliseconds(0);
    DataService service(options);
    std::fprintf(stderr, "loaded %zu profiles in %zu pattern groups in %.1f s, resident %s\n", service.index().size(),
                 service.index().groupCount(), timer.elapsed() / 1000.0, residentMemory().c_str());
    g_service = &service;
    g_port = service.start(0);
    if (g_port == 0) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fprintf(stderr, "connections refused as busy: %zu\n", service.refusedConnections());
    return 0;
}
