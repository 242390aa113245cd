// chenglan-service: the operator's similar-match service.

#include "CsvImport.h"
#include "DataService.h"
#include "MatchStore.h"
#include "ServiceLimits.h"

#include <QFile>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <pthread.h>

using namespace chenglan::dataservice;

namespace {

const char kDefaultDatabase[] = "chenglan-service.db";

const char kHelp[] = R"(usage:
  chenglan-service serve [--db FILE] [--port N] [--threads N]
  chenglan-service import [--db FILE] FILE.csv
  chenglan-service --help

serve   answers the similar-match query "shili/deep_jc.asp?sql=" (GET or POST)
        and the server-slot link files "link(0).txt" to "link(2).txt" on
        127.0.0.1, port N (default 0: any free port). Prints
        "listening on 127.0.0.1:PORT" first. Reads imports made while it runs
        within a second. Stops on SIGINT or SIGTERM.
import  stores the finished matches of a CSV file in the sample site's export
        columns (see server/dataservice/README.md). Re-running updates, never
        duplicates; a bad line is reported on stderr and skipped.

--db FILE     the SQLite database, created on first use (default chenglan-service.db)
--threads N   connections served at once (default 8); a few more wait, the
              rest are answered 503 at once

The query: eight strength values, PatternCode20, PatternCode10 and the match
id, joined by ",". An empty strength value counts as 0.

Similarity rule: the candidates are the finished matches (full-time score
known) with a stored strength profile, except the queried match id. Those
whose two pattern codes both equal the query's come first, then all others.
Within each of the two groups they are ordered by the Euclidean distance
between their eight strength values and the query's (in hundredths, as the
client rounds them); equal distances put the newer kick-off first, then the
higher match id. At most 30 records are answered.

The answer: one record per match, GB2312 (GB18030) text, every field followed
by "," and every record by "|". Fields 0..28 as the client reads them; 29 and
30 are the match's pattern codes, 31 and 32 its last two strength values, 33
the distance, 34 is 1 when both codes equal the query's. A malformed query
gets status 400 and a text without "|". Field list: server/dataservice/README.md.
)";

int usage(const char *why) {
    std::fprintf(stderr, "chenglan-service: %s\n(chenglan-service --help for usage)\n", why);
    return 2;
}

QString takeOption(QStringList &args, const QString &name, bool *missingValue) {
    const int at = args.indexOf(name);
    if (at < 0)
        return {};
    if (at + 1 >= args.size()) {
        *missingValue = true;
        return {};
    }
    const QString value = args.at(at + 1);
    args.remove(at, 2);
    return value;
}

int serve(QStringList args) {
    bool missing = false;
    const QString db = takeOption(args, QStringLiteral("--db"), &missing);
    const QString portText = takeOption(args, QStringLiteral("--port"), &missing);
    const QString threadsText = takeOption(args, QStringLiteral("--threads"), &missing);
    if (missing || !args.isEmpty())
        return usage("serve takes --db FILE, --port N and --threads N");
    bool ok = true;
    const int port = portText.isEmpty() ? 0 : portText.toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        return usage("--port needs a number from 0 to 65535");
    ServiceOptions options;
    options.databasePath = db.isEmpty() ? QString::fromLatin1(kDefaultDatabase) : db;
    if (!threadsText.isEmpty()) {
        const int threads = threadsText.toInt(&ok);
        if (!ok || threads < 1 || threads > 256)
            return usage("--threads needs a number from 1 to 256");
        options.workers = std::size_t(threads);
    }

    // Signals are taken by sigwait below, not by whichever thread they hit.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        DataService service(options);
        const int bound = service.start(port);
        if (bound == 0) {
            std::fprintf(stderr, "chenglan-service: cannot listen on 127.0.0.1:%d\n", port);
            return 1;
        }
        std::printf("listening on 127.0.0.1:%d\n", bound);
        std::fflush(stdout);
        std::fprintf(stderr, "chenglan-service: %zu analysed finished matches in %zu pattern groups\n",
                     service.index().size(), service.index().groupCount());
        int signal = 0;
        sigwait(&stopSignals, &signal);
        std::fprintf(stderr, "chenglan-service: stopping\n");
        service.stop();
    } catch (const StoreError &e) {
        std::fprintf(stderr, "chenglan-service: %s\n", e.what());
        return 1;
    }
    return 0;
}

int import(QStringList args) {
    bool missing = false;
    const QString db = takeOption(args, QStringLiteral("--db"), &missing);
    if (missing || args.size() != 1)
        return usage("import takes [--db FILE] and one CSV file");
    QFile file(args.first());
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "chenglan-service: cannot read %s: %s\n", qPrintable(args.first()),
                     qPrintable(file.errorString()));
        return 1;
    }
    try {
        MatchStore store(db.isEmpty() ? QString::fromLatin1(kDefaultDatabase) : db);
        const ImportReport report = importCsv(file, store, [](const QString &line) {
            std::fprintf(stderr, "%s\n", qPrintable(line));
        });
        if (!report.fatal.isEmpty())
            return 1;
        std::fprintf(stderr, "import: done: %d lines, %d new, %d updated, %d unchanged, %d not finished yet, %d bad\n",
                     report.lines, report.inserted, report.updated, report.unchanged, report.unfinished, report.bad);
    } catch (const StoreError &e) {
        std::fprintf(stderr, "chenglan-service: %s\n", e.what());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    // The command is the first word that is neither an option nor an
    // option's value, so "--port 0 serve --db F" works as launchers write it.
    QString command;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i].startsWith(QLatin1String("--"))) {
            ++i;
            continue;
        }
        command = args.takeAt(i);
        break;
    }
    if (command.isEmpty())
        return usage("no command");
    if (command == QLatin1String("serve"))
        return serve(args);
    if (command == QLatin1String("import"))
        return import(args);
    return usage("unknown command");
}
