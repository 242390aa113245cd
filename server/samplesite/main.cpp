// chenglan-sample-site: the offline stand-in for the odds, analysis and
// odds-detail websites and the server list, on 127.0.0.1.

#include "Export.h"
#include "SampleSite.h"
#include "SiteServer.h"

#include <QFile>
#include <QStringDecoder>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include <pthread.h>
#include <unistd.h>

using namespace chenglan::sample;

namespace {

constexpr const char *kUsage =
    "usage: chenglan-sample-site [--port N] [--today YYYY-MM-DD] [--seed N] [--service URL]\n"
    "                            [--export-csv FILE]\n"
    "  --port N         port on 127.0.0.1 (0: any free port; default " CHENGLAN_SAMPLE_PORT_TEXT ")\n"
    "  --today DAY      the site's today; its clock stands at noon of that day (default: the real clock)\n"
    "  --seed N         seed of the generated world (default 20221009)\n"
    "  --service URL    data service address the server-list files name (default " CHENGLAN_SERVICE_TEXT ")\n"
    "  --export-csv F   write the finished matches as CSV to F and exit\n";

struct Options {
    int port = CHENGLAN_SAMPLE_PORT_NUMBER;
    std::optional<QDate> today;
    quint64 seed = World::kDefaultSeed;
    QString service = QStringLiteral(CHENGLAN_SERVICE_TEXT);
    QString exportCsv;
};

bool parse(int argc, char **argv, Options &o, std::string &error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            error.clear();
            return false;
        }
        if (i + 1 >= argc) {
            error = "missing value after " + arg;
            return false;
        }
        const QString value = QString::fromLocal8Bit(argv[++i]);
        bool ok = true;
        if (arg == "--port") {
            o.port = value.toInt(&ok);
            ok = ok && o.port >= 0 && o.port <= 65535;
        } else if (arg == "--today") {
            const QDate day = QDate::fromString(value, Qt::ISODate);
            ok = day.isValid() && day >= World::firstDay();
            o.today = day;
        } else if (arg == "--seed") {
            o.seed = value.toULongLong(&ok);
        } else if (arg == "--service") {
            o.service = value;
            ok = value.startsWith(QStringLiteral("http://")) || value.startsWith(QStringLiteral("https://"));
        } else if (arg == "--export-csv") {
            o.exportCsv = value;
        } else {
            error = "unknown option " + arg;
            return false;
        }
        if (!ok) {
            error = "bad value for " + arg + ": " + value.toStdString();
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    std::string error;
    if (!parse(argc, argv, options, error)) {
        if (!error.empty())
            std::cerr << "chenglan-sample-site: " << error << "\n";
        std::cerr << kUsage;
        return error.empty() ? 0 : 2;
    }
    if (!QStringEncoder("GB18030").isValid()) {
        std::cerr << "chenglan-sample-site: this Qt has no GB18030 encoder\n";
        return 1;
    }

    const SampleSite::Clock clock = options.today ? SampleSite::fixedClock(*options.today) : SampleSite::realClock();
    const QDate today = dayOf(clock());
    SampleSite site(World::generate(options.seed, today.addDays(14)), clock, options.service);

    if (!options.exportCsv.isEmpty()) {
        QFile file(options.exportCsv);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(finishedMatchesCsv(site.world(), site.now())) < 0) {
            std::cerr << "chenglan-sample-site: cannot write " << options.exportCsv.toStdString() << ": "
                      << file.errorString().toStdString() << "\n";
            return 1;
        }
        return 0;
    }

    SiteServer server(site);
    const int port = server.bind(options.port);
    if (port < 0) {
        std::cerr << "chenglan-sample-site: cannot listen on 127.0.0.1:" << options.port << "\n";
        return 1;
    }
    std::printf("listening on 127.0.0.1:%d\n", port);
    std::fflush(stdout);

    // SIGINT and SIGTERM end the program cleanly (the tests stop it with
    // SIGTERM, and sanitized builds check for leaks at a normal exit). They
    // are taken by sigwait below, not by whichever thread they hit.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::atomic<bool> served{true};
    std::thread serving([&] {
        served = server.listen();
        if (!served)
            kill(getpid(), SIGTERM); // wakes the sigwait below
    });
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    serving.join();
    return served ? 0 : 1;
}
