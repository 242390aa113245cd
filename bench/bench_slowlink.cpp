// Clicks on a slow link: the client as it was (every page fetched on every
// click) against the client with the page cache and fetching ahead, in one
// run, through a proxy that holds every answer of the sample site (see
// bench/delayproxy.mjs). For each client: click to drawn charts of a listed
// match of the site's day (first click without fetching ahead, the first
// click after fetching ahead has finished, the same match again), the same
// match again for a match finished two days ago, and a similar click on a
// finished match; with the requests each click sent to the sites. Prints
// one JSON object.
//
//   bench_slowlink --site http://127.0.0.1:PORT/ --today Y-M-D [--matches 8] [--delay-ms N]
//
// --delay-ms only names the proxy's delay in the result.
#include "base/Columns.h"
#include "usecases/ListAnalysis.h"
#include "usecases/Prefetcher.h"
#include "usecases/SimilarAnalysis.h"
#include "charts/ChartPictures.h"
#include "model/GridFormats.h"
#include "usecases/ScheduleListing.h"
#include "net/PageCache.h"
#include "net/PoliteWeb.h"
#include "net/QtWeb.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

using namespace chenglan;

namespace {

[[noreturn]] void fail(const QString &why) {
    std::fprintf(stderr, "bench_slowlink: %s\n", qPrintable(why));
    std::exit(1);
}

QString option(const QStringList &args, const QString &name, const QString &fallback = {}) {
    const qsizetype at = args.indexOf(name);
    if (at < 0)
        return fallback;
    if (at + 1 >= args.size())
        fail(name + QStringLiteral(" needs a value"));
    return args[at + 1];
}

double median(std::vector<double> v) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Counts what reaches the sites: it sits below the cache.
class CountingWeb : public Web {
public:
    CountingWeb(std::unique_ptr<Web> inner, std::atomic<int> &count) : m_inner(std::move(inner)), m_count(count) {}
    FetchOutcome fetch(const HttpRequest &request) override {
        ++m_count;
        return m_inner->fetch(request);
    }
    void abort() override { m_inner->abort(); }

private:
    std::unique_ptr<Web> m_inner;
    std::atomic<int> &m_count;
};

// One client: how it makes the Webs of a click, and what it keeps.
struct Client {
    bool cached = false;
    std::shared_ptr<PageCache> cache;
    std::shared_ptr<UserFirstGate> gate = std::make_shared<UserFirstGate>();
    std::shared_ptr<HostSchedule> schedule = std::make_shared<HostSchedule>();
    std::atomic<int> clickRequests{0};
    std::atomic<int> aheadRequests{0};

    std::unique_ptr<Web> polite(std::atomic<int> &count) const {
        return std::make_unique<PoliteWeb>(std::make_unique<CountingWeb>(std::make_unique<QtWeb>(), count), schedule);
    }
    std::unique_ptr<Web> clickWeb() {
        if (!cached)
            return polite(clickRequests);
        return std::make_unique<UserWeb>(std::make_unique<CachingWeb>(polite(clickRequests), cache), gate);
    }
    std::unique_ptr<Web> aheadWeb() { return std::make_unique<CachingWeb>(polite(aheadRequests), cache); }
};

struct Row {
    std::vector<double> ms;
    int requests = 0;
    int clicks = 0;
    QJsonObject json() const {
        return {{QStringLiteral("medianMs"), median(ms)},
                {QStringLiteral("clicks"), clicks},
                {QStringLiteral("requestsPerClick"), clicks ? double(requests) / clicks : -1}};
    }
};

struct Listed {
    ScheduleListing listing;
    std::vector<Value> rowKeys;
};

class Bench {
public:
    Bench(SiteBases bases, Listed &today, Listed &past) : m_bases(std::move(bases)), m_today(today), m_past(past) {}

    // A list click to drawn charts; its state stays in `s`.
    void listClick(Client &client, const Listed &list, const Value &rowKey, AnalysisState &s, Row &row) {
        const std::unique_ptr<Web> web = client.clickWeb();
        const std::unique_ptr<Web> second = client.clickWeb();
        const AnalysisContext context{*web, m_bases, m_renderer, second.get(), {}};
        ChartPictures pictures = ChartPictures::make();
        const int before = client.clickRequests;
        const auto start = std::chrono::steady_clock::now();
        const AnalysisRun run = analyzeListRow(s, list.listing.state, rowKey, context);
        drawListMatchCharts(s, pictures);
        row.ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        row.requests += client.clickRequests - before;
        ++row.clicks;
        if (!run.pageRead)
            ++m_failed;
    }

    void similarClick(Client &client, AnalysisState s, int similarRow, Row &row) {
        const std::unique_ptr<Web> web = client.clickWeb();
        const std::unique_ptr<Web> second = client.clickWeb();
        const AnalysisContext context{*web, m_bases, m_renderer, second.get(), {}};
        ChartPictures pictures = ChartPictures::make();
        const int before = client.clickRequests;
        const auto start = std::chrono::steady_clock::now();
        const SimilarRun run = analyzeSimilarRow(s, Value::fromInt16(std::int16_t(similarRow)), context);
        drawSimilarMatchCharts(s, pictures);
        row.ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        row.requests += client.clickRequests - before;
        ++row.clicks;
        if (!run.pageRead)
            ++m_failed;
    }

    // The finished matches of the past day as the data service would list
    // them as similar: id and kick-off.
    Table similarTable() const {
        const Table &t = m_past.listing.state.matchTable;
        Table table(SimilarMatchColumns, int(m_past.rowKeys.size()));
        for (int i = 0; i < int(m_past.rowKeys.size()); ++i) {
            const int r = m_past.rowKeys[std::size_t(i)].toInt16();
            table.set(similar::MatchId, i, t.at(matchtable::MatchIdField, r));
            table.set(similar::Kickoff, i,
                      Value(m_pastDay.toString(QStringLiteral("yyyy-")) + t.at(matchtable::KickOffField, r).text()));
        }
        return table;
    }

    QJsonObject run(Client &client) {
        QTemporaryDir dirs;
        QJsonObject out;
        Row first, ahead, again, finishedAgain, similar, similarAgain;
        int aheadRequests = 0;
        double aheadMs = 0;
        // First clicks, nothing kept yet and nothing fetched ahead.
        if (client.cached)
            client.cache = std::make_shared<PageCache>(dirs.filePath(QStringLiteral("first")));
        AnalysisState s;
        for (const Value &key : m_today.rowKeys)
            listClick(client, m_today, key, s, first);
        // The list fetched ahead in full, then each match clicked, then again.
        if (client.cached) {
            client.cache = std::make_shared<PageCache>(dirs.filePath(QStringLiteral("ahead")));
            Prefetcher prefetcher([&client] { return client.aheadWeb(); }, m_bases, client.gate);
            const auto start = std::chrono::steady_clock::now();
            prefetcher.start(m_today.listing.state);
            prefetcher.waitIdle();
            aheadMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            aheadRequests = client.aheadRequests;
            for (const Value &key : m_today.rowKeys)
                listClick(client, m_today, key, s, ahead);
        }
        for (const Value &key : m_today.rowKeys)
            listClick(client, m_today, key, s, again);
        // Similar clicks on the past day's finished matches (none of their
        // pages read yet), after a click on a match of the day; then the
        // same similar match again.
        AnalysisState listed;
        Row ignored;
        listClick(client, m_today, m_today.rowKeys.front(), listed, ignored);
        listed.similarMatches = similarTable();
        for (int i = 0; i < int(m_past.rowKeys.size()); ++i) {
            similarClick(client, listed, i, similar);
            similarClick(client, listed, i, similarAgain);
        }
        // A finished match clicked twice: the second click.
        {
            AnalysisState p;
            Row once;
            for (const Value &key : m_past.rowKeys) {
                listClick(client, m_past, key, p, once);
                listClick(client, m_past, key, p, finishedAgain);
            }
        }
        out.insert(QStringLiteral("firstClick"), first.json());
        if (client.cached) {
            out.insert(QStringLiteral("afterAhead"), ahead.json());
            out.insert(QStringLiteral("aheadRequests"), aheadRequests);
            out.insert(QStringLiteral("aheadMs"), aheadMs);
        }
        out.insert(QStringLiteral("sameMatchAgain"), again.json());
        out.insert(QStringLiteral("finishedMatchAgain"), finishedAgain.json());
        out.insert(QStringLiteral("similarClick"), similar.json());
        out.insert(QStringLiteral("similarAgain"), similarAgain.json());
        out.insert(QStringLiteral("failedClicks"), m_failed);
        m_failed = 0;
        return out;
    }

    void setPastDay(const QDate &day) { m_pastDay = day; }

private:
    SiteBases m_bases;
    Listed &m_today;
    Listed &m_past;
    QDate m_pastDay;
    const PageRenderer m_renderer;
    int m_failed = 0;
};

Listed list(const SiteBases &bases, const QDate &day, int matches) {
    QtWeb web;
    ScheduleRequest request;
    request.selectedDate = QStringLiteral("%1-%2-%3").arg(day.year()).arg(day.month()).arg(day.day());
    Listed out{listSchedule(request, web, bases, PageRenderer()), {}};
    for (int r = 1; r < out.listing.grid.rows() && int(out.rowKeys.size()) < matches; ++r)
        out.rowKeys.push_back(Value(out.listing.grid.text(r, MatchListKeyColumn)));
    // Fetching ahead reads the same list the clicks are made on.
    ScheduleState &state = out.listing.state;
    for (int r = 0; r < state.matchRowFlags.size(); ++r) {
        bool clicked = false;
        for (const Value &key : out.rowKeys)
            clicked = clicked || key.toInt16() == r;
        if (!clicked)
            state.matchRowFlags.set(r, Value::fromInt16(0));
    }
    if (out.rowKeys.empty())
        fail(QStringLiteral("the site lists no match on %1").arg(day.toString(Qt::ISODate)));
    return out;
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv); // the charts draw text
    const QStringList args = app.arguments();
    QString root = option(args, QStringLiteral("--site"));
    const QDate today = QDate::fromString(option(args, QStringLiteral("--today")), QStringLiteral("yyyy-M-d"));
    const int matches = option(args, QStringLiteral("--matches"), QStringLiteral("8")).toInt();
    const int delayMs = option(args, QStringLiteral("--delay-ms"), QStringLiteral("0")).toInt();
    if (root.isEmpty() || !today.isValid() || matches < 1)
        fail(QStringLiteral("usage: bench_slowlink --site http://127.0.0.1:PORT/ --today Y-M-D [--matches N]"));
    if (!root.endsWith(u'/'))
        root += u'/';
    SiteBases bases;
    bases.odds = root + QStringLiteral("odds/");
    bases.analysis = root + QStringLiteral("zq/");
    bases.detail = root + QStringLiteral("vip/");

    const QDate pastDay = today.addDays(-2);
    Listed todayList = list(bases, today, matches);
    Listed pastList = list(bases, pastDay, matches);
    Bench bench(bases, todayList, pastList);
    bench.setPastDay(pastDay);

    Client plain;
    Client ours;
    ours.cached = true;
    const QJsonObject result{
        {QStringLiteral("site"), root},
        {QStringLiteral("today"), today.toString(Qt::ISODate)},
        {QStringLiteral("delayMs"), delayMs},
        {QStringLiteral("todayMatches"), int(todayList.rowKeys.size())},
        {QStringLiteral("pastMatches"), int(pastList.rowKeys.size())},
        {QStringLiteral("plain"), bench.run(plain)},
        {QStringLiteral("cached"), bench.run(ours)},
    };
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}
