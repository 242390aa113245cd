// A whole list click on loopback: the match's page, both extension pages and
// the model, as the window's job runs it (the extension pages side by side),
// over the listed matches of a few days in turn. Prints one JSON object: the
// median and 90th percentile of the clicks, how the time splits into
// fetching, rendering and the model, and the pages each click fetched, so a
// browser can load the same pages.
//
//   bench_click [--site http://127.0.0.1:PORT/ [--today Y-M-D]] [--clicks 50] [--one-by-one]
//
// Without --site the sample site runs in this process on a free port, its
// clock at noon of 2022-10-09; --today names the day a running site lists
// (2022-10-09 too by default). --one-by-one loads the extension pages one
// after the other on one client.
#include "SampleSite.h"
#include "SiteServer.h"

#include "usecases/ListAnalysis.h"
#include "model/GridFormats.h"
#include "usecases/ScheduleListing.h"
#include "net/QtWeb.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace chenglan;
using namespace chenglan::sample;

namespace {

const QDate kSampleToday(2022, 10, 9);
constexpr int kDays = 7;

[[noreturn]] void fail(const QString &why) {
    std::fprintf(stderr, "bench_click: %s\n", qPrintable(why));
    std::exit(1);
}

struct RunningSite {
    SampleSite site{World::generate(World::kDefaultSeed, kSampleToday.addDays(14)), SampleSite::fixedClock(kSampleToday),
                    QStringLiteral("http://127.0.0.1:18081/")};
    SiteServer server{site};
    int port = server.bind(0);
    std::thread thread{[this] { server.listen(); }};

    ~RunningSite() {
        server.stop();
        thread.join();
    }
};

// Passes every fetch on and notes what was asked; shared by the two clients
// of a click, which fetch on two threads.
struct FetchNotes {
    std::mutex mutex;
    QJsonArray requests;
};

class NotingWeb : public Web {
public:
    NotingWeb(Web &inner, FetchNotes &notes) : m_inner(inner), m_notes(notes) {}
    FetchOutcome fetch(const HttpRequest &request) override {
        {
            const std::lock_guard lock(m_notes.mutex);
            m_notes.requests.append(QJsonObject{
                {QStringLiteral("method"),
                 request.method == HttpRequest::Method::Get ? QStringLiteral("GET") : QStringLiteral("POST")},
                {QStringLiteral("url"), request.url}});
        }
        return m_inner.fetch(request);
    }
    void abort() override { m_inner.abort(); }

private:
    Web &m_inner;
    FetchNotes &m_notes;
};

struct Click {
    const ScheduleState *schedule;
    Value rowKey;
};

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

QString option(const QStringList &args, const QString &name, const QString &fallback = {}) {
    const qsizetype at = args.indexOf(name);
    if (at < 0)
        return fallback;
    if (at + 1 >= args.size())
        fail(name + QStringLiteral(" needs a value"));
    return args[at + 1];
}

} // namespace

int main(int argc, char **argv) {
    // QtWeb's local event loop and the page scripts' engine need an application.
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString root = option(args, QStringLiteral("--site"));
    const int clicks = option(args, QStringLiteral("--clicks"), QStringLiteral("50")).toInt();
    const bool sideBySide = !args.contains(QStringLiteral("--one-by-one"));
    const QDate today = QDate::fromString(option(args, QStringLiteral("--today"), kSampleToday.toString(Qt::ISODate)),
                                          QStringLiteral("yyyy-M-d"));
    if (clicks < 1 || !today.isValid())
        fail(QStringLiteral("usage: bench_click [--site URL/ [--today Y-M-D]] [--clicks N] [--one-by-one]"));

    std::unique_ptr<RunningSite> inProcess;
    if (root.isEmpty()) {
        inProcess = std::make_unique<RunningSite>();
        if (inProcess->port <= 0)
            fail(QStringLiteral("cannot listen on loopback"));
        root = QStringLiteral("http://127.0.0.1:%1/").arg(inProcess->port);
    } else if (!root.endsWith(u'/')) {
        root += u'/';
    }
    SiteBases bases;
    bases.odds = root + QStringLiteral("odds/");
    bases.analysis = root + QStringLiteral("zq/");
    bases.detail = root + QStringLiteral("vip/");
    const PageRenderer renderer;

    // The listed matches of the site's current day and the days before it.
    std::vector<ScheduleListing> days;
    std::vector<Click> matches;
    {
        QtWeb web;
        days.reserve(kDays);
        for (int d = 0; d < kDays; ++d) {
            ScheduleRequest request;
            const QDate day = today.addDays(-d);
            request.selectedDate = QStringLiteral("%1-%2-%3").arg(day.year()).arg(day.month()).arg(day.day());
            days.push_back(listSchedule(request, web, bases, renderer));
        }
        for (const ScheduleListing &day : days)
            for (int r = 1; r < day.grid.rows(); ++r)
                matches.push_back({&day.state, Value(day.grid.text(r, MatchListKeyColumn))});
    }
    if (matches.empty())
        fail(QStringLiteral("the site lists no match (%1)").arg(root));

    QtWeb first, second;
    FetchNotes notes;
    NotingWeb web(first, notes), otherWeb(second, notes);
    const AnalysisContext context{web, bases, renderer, sideBySide ? &otherWeb : nullptr, {}};
    AnalysisState s;
    analyzeListRow(s, *matches[0].schedule, matches[0].rowKey, context); // warm up

    std::vector<double> wall, fetch, render, model;
    QJsonArray pages;
    int failed = 0;
    for (int i = 0; i < clicks; ++i) {
        const Click &c = matches[std::size_t(i) % matches.size()];
        notes.requests = QJsonArray();
        const auto start = std::chrono::steady_clock::now();
        const AnalysisRun run = analyzeListRow(s, *c.schedule, c.rowKey, context);
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        fetch.push_back(double(run.pages.fetchNs) / 1e6);
        render.push_back(double(run.pages.renderNs) / 1e6);
        model.push_back(double(run.modelNs) / 1e6);
        if (!run.pageRead)
            ++failed;
        pages.append(notes.requests);
    }

    // Fetching and rendering of the two extension pages overlap when they
    // run side by side: the parts are summed times and may exceed the whole.
    QJsonArray wallRuns;
    for (double w : wall)
        wallRuns.append(w);
    const QJsonObject result{{QStringLiteral("site"), root},
                             {QStringLiteral("sideBySide"), sideBySide},
                             {QStringLiteral("clicks"), clicks},
                             {QStringLiteral("matches"), double(matches.size())},
                             {QStringLiteral("failed"), failed},
                             {QStringLiteral("medianMs"), median(wall)},
                             {QStringLiteral("p90Ms"), percentile(wall, 0.9)},
                             {QStringLiteral("fetchMs"), median(fetch)},
                             {QStringLiteral("renderMs"), median(render)},
                             {QStringLiteral("modelMs"), median(model)},
                             {QStringLiteral("wallMs"), wallRuns},
                             {QStringLiteral("pages"), pages}};
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return failed == clicks ? 1 : 0;
}
