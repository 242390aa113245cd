// Our renderer on the local pages the scrapers render, timed the way the
// browser peers are timed: the first render in a fresh process (cold), then
// the median of repeated renders (warm). Also writes those local pages from
// a running sample site, so every engine renders the same files.
//
//   bench_pages make --site http://127.0.0.1:PORT/ --out DIR [--large-bytes N]
//   bench_pages time FILE [--runs 30] [--scripts plain|engine|engine-literals] [--engine-here]
//
// "make" prints a JSON manifest of the pages written; "time" prints one JSON
// object with the timings and the rendered text. --scripts picks how page
// scripts run: "plain" (the default: plain scripts without the engine),
// "engine" (every script in the engine, compiled as it stands) or
// "engine-literals" (in the engine, large data literals built from JSON).
#include "base/Step.h"
#include "localpages/LocalPages.h"
#include "sites/AnalysisPage.h"
#include "sites/HandicapDetail.h"
#include "net/HttpFetch.h"
#include "html/PageRenderer.h"
#include "net/QtWeb.h"
#include "sites/ScheduleScraper.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace chenglan;

namespace {

void fail(const QString &why) {
    std::fprintf(stderr, "bench_pages: %s\n", qPrintable(why));
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

void writeUtf8(const QString &path, const QString &text) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0)
        fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

double ms(qint64 ns) { return double(ns) / 1e6; }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int make(const QStringList &args) {
    QString site = option(args, QStringLiteral("--site"));
    const QString out = option(args, QStringLiteral("--out"));
    const qsizetype largeBytes = option(args, QStringLiteral("--large-bytes"), QStringLiteral("2000000")).toLongLong();
    if (site.isEmpty() || out.isEmpty())
        fail(QStringLiteral("usage: bench_pages make --site URL/ --out DIR [--large-bytes N]"));
    if (!site.endsWith(u'/'))
        site += u'/';
    if (!QDir().mkpath(out))
        fail(QStringLiteral("cannot create %1").arg(out));

    QtWeb web;
    const PageRenderer renderer;
    QJsonObject manifest;
    auto keep = [&](const QString &name, const QString &page, const QString &source) {
        if (page.isEmpty())
            fail(QStringLiteral("the %1 page came out empty (from %2)").arg(name, source));
        writeUtf8(out + u'/' + name + QStringLiteral(".html"), page);
        manifest[name] = QJsonObject{{QStringLiteral("file"), name + QStringLiteral(".html")},
                                     {QStringLiteral("bytes"), double(page.toUtf8().size())},
                                     {QStringLiteral("source"), source}};
    };

    try {
        // The addresses as the scrapers make them, on the sample site's paths.
        SiteBases bases;
        bases.odds = site + QStringLiteral("odds/");
        bases.analysis = site + QStringLiteral("zq/");
        bases.detail = site + QStringLiteral("vip/");

        const QString scheduleUrl = jingcaiScheduleUrl(bases, QString());
        const QString schedule = jingcaiTablePage(HttpFetchText(web, scheduleUrl, Charset::Utf8));
        keep(QStringLiteral("schedule"), schedule, scheduleUrl);

        const qint64 id = bench::firstMatchId(renderer.visibleText(schedule));
        if (id <= 0)
            fail(QStringLiteral("the schedule lists no match"));
        manifest[QStringLiteral("matchId")] = double(id);
        const Value matchId{double(id)};

        const QString analysisUrl = analysispage::url(bases, matchId);
        keep(QStringLiteral("analysis"), bench::analysisDumpPage(fetchPage(web, analysisUrl), renderer), analysisUrl);

        const QString detailUrl = handicapDetailUrl(bases.detail, matchId);
        keep(QStringLiteral("detail"), handicapChangeMarkup(HttpFetchText(web, detailUrl, Charset::Gb18030)), detailUrl);

        keep(QStringLiteral("large"), bench::largeTablePage(schedule, largeBytes),
             QStringLiteral("the schedule's rows repeated"));
    } catch (const StepFailure &failure) {
        fail(failure.what());
    }
    std::printf("%s\n", QJsonDocument(manifest).toJson(QJsonDocument::Compact).constData());
    return 0;
}

int time(const QStringList &args, QElapsedTimer &sinceStart) {
    const int runs = option(args, QStringLiteral("--runs"), QStringLiteral("30")).toInt();
    const QString scripts = option(args, QStringLiteral("--scripts"), QStringLiteral("plain"));
    const QString path = args.value(2);
    ScriptSandbox::Options options;
    options.withoutEngine = scripts == u"plain";
    options.literalsAsData = scripts != u"engine";
    // The engine in this process instead of its child process.
    options.engineProcess = !args.contains(QStringLiteral("--engine-here"));
    if (path.isEmpty() || runs < 1 || (scripts != u"plain" && scripts != u"engine" && scripts != u"engine-literals"))
        fail(QStringLiteral("usage: bench_pages time FILE [--runs N] [--scripts plain|engine|engine-literals]"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    const QString page = QString::fromUtf8(bytes);

    const PageRenderer renderer(PageRenderer::Limits(), options);
    const double startMs = ms(sinceStart.nsecsElapsed());
    QElapsedTimer clock;
    QString text;
    try {
        clock.start();
        text = renderer.visibleText(page);
        const double coldMs = ms(clock.nsecsElapsed());
        std::vector<double> warm;
        warm.reserve(runs);
        for (int i = 0; i < runs; ++i) {
            clock.restart();
            text = renderer.visibleText(page);
            warm.push_back(ms(clock.nsecsElapsed()));
        }
        QJsonArray warmRuns;
        for (double w : warm)
            warmRuns.append(w);
        const QJsonObject result{{QStringLiteral("engine"), QStringLiteral("ours")},
                                 {QStringLiteral("bytes"), double(bytes.size())},
                                 {QStringLiteral("startMs"), startMs},
                                 {QStringLiteral("coldMs"), coldMs},
                                 {QStringLiteral("warmMs"), warmRuns},
                                 {QStringLiteral("medianMs"), median(warm)},
                                 {QStringLiteral("text"), text}};
        std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    } catch (const StepFailure &failure) {
        fail(failure.what());
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == u"make")
        return make(args);
    if (args.value(1) == u"time")
        return time(args, sinceStart);
    fail(QStringLiteral("usage: bench_pages make ... | bench_pages time FILE [--runs N] [--scripts ...]"));
}
