// chenglan-service: the operator's similar-match service.

#include "Backtest.h"
#include "CsvImport.h"
#include "DataService.h"
#include "Ingest.h"
#include "IndexSnapshot.h"
#include "MatchStore.h"
#include "ServiceLimits.h"
#include "ServiceLog.h"
#include "StoreBackup.h"

#include "net/PoliteWeb.h"
#include "net/QtWeb.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QStringList>

#include <arpa/inet.h>

#include <csignal>
#include <memory>
#include <optional>
#include <cstdio>
#include <pthread.h>

using namespace chenglan::dataservice;

namespace {

const char kDefaultDatabase[] = "chenglan-service.db";
const char kDefaultHost[] = "127.0.0.1";
constexpr int kDefaultPort = 18081;

const char kHelp[] = R"(usage:
  chenglan-service serve [--db FILE] [--listen HOST:PORT | --port N] [--threads N]
                   [--public-url URL] [--no-index-file]
  chenglan-service import [--db FILE] FILE.csv
  chenglan-service ingest [--db FILE] --from Y-M-D --to Y-M-D [--only-new]
                   [--odds-site URL] [--analysis-site URL] [--detail-site URL]
  chenglan-service backtest [--db FILE] [--from Y-M-D] [--to Y-M-D] [--csv]
  chenglan-service backup [--db FILE] OUT
  chenglan-service --help

serve   answers the similar-match query "shili/deep_jc.asp?sql=" (GET or POST)
        and the server-slot link files "link(0).txt" to "link(2).txt" on
        HOST:PORT (default 127.0.0.1:18081; --port N: 127.0.0.1:N; port 0:
        any free port). Prints "listening on HOST:PORT" first, then loads the
        index: from the index file FILE.index beside the database when it
        matches the database, else from the database (and writes the file).
        GET /healthz answers 200 once loaded, 503 while loading or when the
        database cannot be read; GET /metrics the Prometheus text format.
        Reads imports made while it runs within a second. Logs on stderr.
        Stops on SIGINT or SIGTERM.
import  stores the finished matches of a CSV file in the sample site's export
        columns (see server/dataservice/README.md). Re-running updates, never
        duplicates; a bad line is reported on stderr and skipped.
ingest  analyses every finished match on the Jingcai schedule pages of the
        days from --from to --to with the client's own analysis, as of before
        its kick-off (its analysis page lists only earlier matches), on two
        threads, and stores its eight strength values and pattern codes with
        its facts. Facts already stored (by import) are kept; the ingest fills
        what they lack. Re-running updates, never duplicates; a match that
        fails is reported on stderr and skipped. Matches are written in
        batches, one transaction each, so an interrupted ingest leaves whole
        batches and the next one completes it. --only-new leaves the matches
        that already have a profile and a score. Exits with 1 when a day's
        schedule page could not be read.
backtest
        counts, over the stored finished matches with a profile (kick-off day
        from --from to --to when given), for each of the 14 levels of the
        strength verdict and for each pair of pattern codes, the matches, how
        often the home side won, drew and lost, and how often one of the
        verdict's two suggested scores was the final score. --csv prints CSV.

backup  writes a consistent copy of the database to OUT (which must not
        exist) while serve, import and ingest go on, and checks it.

--db FILE     the SQLite database, created on first use (default chenglan-service.db)
--db postgresql://USER@HOST:PORT/DATABASE
              a PostgreSQL database instead, shared by several services; its
              tables are created on first use. Each serve follows the others'
              writes within a second and keeps answering from memory while
              the server cannot be reached.
--listen HOST:PORT
              the address to serve on; an IPv6 address in brackets ([::1]:18081).
              Anything but loopback is said on stderr: put a TLS proxy in front.
--public-url URL
              the address clients reach the service at, behind a proxy
              (https://.../); the link files name it instead of HOST:PORT
--no-index-file
              neither read nor write FILE.index: load from the database
              (a PostgreSQL database has no index file)
--odds-site, --analysis-site, --detail-site URL
              the sites ingest reads (each ending in "/"; defaults: the build's)
--threads N   connections served at once (default 8); a few more wait, the
              rest are answered 503 at once. A request must arrive whole
              within 5 s (408 otherwise), an answer go out within 5 s.

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

struct ListenAddress {
    std::string host;
    int port = 0;
};

// "HOST:PORT", "[IPV6]:PORT". No value when it is not one.
std::optional<ListenAddress> parseListen(const QString &text) {
    const int colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(u':'))
        return std::nullopt; // an IPv6 address needs its brackets
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    if (host.isEmpty() || !ok || port < 0 || port > 65535)
        return std::nullopt;
    return ListenAddress{host.toStdString(), port};
}

// Loopback: 127.0.0.0/8, ::1, and the name localhost.
bool isLoopback(const std::string &host) {
    if (host == "localhost")
        return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return ::inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

QString shownAddress(const std::string &host, int port) {
    const QString h = QString::fromStdString(host);
    return (h.contains(u':') ? u'[' + h + u']' : h) + QStringLiteral(":%1").arg(port);
}

bool siteOption(QStringList &args, const QString &name, QString &base);

// Qt's own warnings (the SQL driver's, for one) go into the service's log
// with its timestamp and level, like every other line.
void logQtMessage(QtMsgType type, const QMessageLogContext &, const QString &message) {
    const LogLevel level = type == QtDebugMsg || type == QtInfoMsg ? LogLevel::Info
                           : type == QtWarningMsg                  ? LogLevel::Warning
                                                                   : LogLevel::Error;
    logLine(level, message);
}

int serve(QStringList args) {
    bool missing = false;
    const QString db = takeOption(args, QStringLiteral("--db"), &missing);
    const QString listenText = takeOption(args, QStringLiteral("--listen"), &missing);
    const QString portText = takeOption(args, QStringLiteral("--port"), &missing);
    const QString threadsText = takeOption(args, QStringLiteral("--threads"), &missing);
    const bool noIndexFile = args.removeAll(QStringLiteral("--no-index-file")) > 0;
    QString publicUrl;
    if (!siteOption(args, QStringLiteral("--public-url"), publicUrl))
        return usage("--public-url is an http(s) address ending in \"/\"");
    if (missing || !args.isEmpty())
        return usage("serve takes --db FILE, --listen HOST:PORT (or --port N), --threads N, --public-url URL "
                     "and --no-index-file");
    if (!listenText.isNull() && !portText.isNull())
        return usage("give --listen HOST:PORT or --port N, not both");
    ListenAddress listen{kDefaultHost, kDefaultPort};
    bool ok = true;
    if (!listenText.isNull()) {
        const auto parsed = parseListen(listenText);
        if (!parsed)
            return usage("--listen needs HOST:PORT (an IPv6 address in brackets), the port from 0 to 65535");
        listen = *parsed;
    } else if (!portText.isNull()) {
        listen.port = portText.toInt(&ok);
        if (!ok || listen.port < 0 || listen.port > 65535)
            return usage("--port needs a number from 0 to 65535");
    }
    ServiceOptions options;
    options.databasePath = db.isEmpty() ? QString::fromLatin1(kDefaultDatabase) : db;
    if (!threadsText.isEmpty()) {
        const int threads = threadsText.toInt(&ok);
        if (!ok || threads < 1 || threads > 256)
            return usage("--threads needs a number from 1 to 256");
        options.workers = std::size_t(threads);
    }
    // Listen first, load behind it: a monitor sees "loading" instead of a
    // refused connection, and queries wait for the index briefly.
    options.deferLoad = true;
    options.publicAddress = publicUrl;
    // The index file lies beside a database file; a PostgreSQL database has
    // no folder of its own here, so its services load from the database.
    if (!noIndexFile && !options.databasePath.contains(QLatin1String("://")))
        options.snapshotPath = snapshotPathFor(options.databasePath);

    qInstallMessageHandler(logQtMessage);
    // Signals are taken by sigwait below, not by whichever thread they hit.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        DataService service(options);
        const int bound = service.start(listen.host, listen.port);
        if (bound == 0) {
            logLine(LogLevel::Error,
                    QStringLiteral("cannot listen on %1").arg(shownAddress(listen.host, listen.port)));
            return 1;
        }
        std::printf("listening on %s\n", qPrintable(shownAddress(listen.host, bound)));
        std::fflush(stdout);
        if (!isLoopback(listen.host))
            logLine(LogLevel::Warning,
                    QStringLiteral("listening on %1, which is not loopback: reachable from other machines; "
                                   "plain HTTP, so put a TLS proxy in front")
                        .arg(shownAddress(listen.host, bound)));
        service.startLoading();
        int signal = 0;
        sigwait(&stopSignals, &signal);
        logLine(LogLevel::Info, QStringLiteral("stopping"));
        service.stop();
    } catch (const StoreError &e) {
        logLine(LogLevel::Error, QString::fromStdString(e.what()));
        return 1;
    }
    return 0;
}

int backupCommand(QStringList args) {
    bool missing = false;
    const QString db = takeOption(args, QStringLiteral("--db"), &missing);
    if (missing || args.size() != 1)
        return usage("backup takes [--db FILE] and the file to write");
    const QString path = db.isEmpty() ? QString::fromLatin1(kDefaultDatabase) : db;
    try {
        const qint64 revision = backupDatabase(path, args.first());
        std::fprintf(stderr, "backup: %s written, revision %lld\n", qPrintable(args.first()),
                     static_cast<long long>(revision));
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

std::optional<QDate> dayOption(QStringList &args, const QString &name, bool *bad) {
    bool missing = false;
    const QString text = takeOption(args, name, &missing);
    if (missing) {
        *bad = true;
        return std::nullopt;
    }
    if (text.isNull())
        return std::nullopt;
    const QDate day = QDate::fromString(text, QStringLiteral("yyyy-M-d"));
    if (!day.isValid())
        *bad = true;
    return day;
}

bool siteOption(QStringList &args, const QString &name, QString &base) {
    bool missing = false;
    const QString value = takeOption(args, name, &missing);
    if (missing)
        return false;
    if (value.isNull())
        return true;
    if (!(value.startsWith(QLatin1String("http://")) || value.startsWith(QLatin1String("https://"))) ||
        !value.endsWith(u'/'))
        return false;
    base = value;
    return true;
}

void sayLine(const QString &line) { std::fprintf(stderr, "%s\n", qPrintable(line)); }

int ingestCommand(QStringList args) {
    bool missing = false;
    bool bad = false;
    const QString db = takeOption(args, QStringLiteral("--db"), &missing);
    const auto from = dayOption(args, QStringLiteral("--from"), &bad);
    const auto to = dayOption(args, QStringLiteral("--to"), &bad);
    IngestOptions options;
    options.onlyNew = args.removeAll(QStringLiteral("--only-new")) > 0;
    if (!siteOption(args, QStringLiteral("--odds-site"), options.sites.odds) ||
        !siteOption(args, QStringLiteral("--analysis-site"), options.sites.analysis) ||
        !siteOption(args, QStringLiteral("--detail-site"), options.sites.detail))
        return usage("a site address is an http(s) address ending in \"/\"");
    if (missing || bad || !from || !to || !args.isEmpty())
        return usage("ingest takes [--db FILE] --from Y-M-D --to Y-M-D, [--only-new] and site addresses");
    if (*from > *to)
        return usage("--from is after --to");
    options.from = *from;
    options.to = *to;

    // Every Web of the run shares one host schedule, so the real sites are
    // asked politely however many threads fetch.
    auto schedule = std::make_shared<chenglan::HostSchedule>();
    const IngestWebFactory makeWeb = [schedule]() -> std::unique_ptr<chenglan::Web> {
        auto client = std::make_unique<chenglan::QtWeb>();
        const auto bound = client->limits().deadline;
        auto polite = std::make_unique<chenglan::PoliteWeb>(std::move(client), schedule);
        polite->setTimeBound(bound);
        return polite;
    };
    try {
        MatchStore store(db.isEmpty() ? QString::fromLatin1(kDefaultDatabase) : db);
        const IngestReport r = ingest(store, options, makeWeb, sayLine);
        sayLine(QStringLiteral("ingest: done: %1 days (%2 unreadable), %3 finished matches, %4 analysed "
                               "(%5 new, %6 updated, %7 unchanged), %8 skipped%9")
                    .arg(r.days)
                    .arg(r.daysFailed)
                    .arg(r.finished)
                    .arg(r.analysed())
                    .arg(r.inserted)
                    .arg(r.updated)
                    .arg(r.unchanged)
                    .arg(r.skipped)
                    .arg(r.alreadyStored ? QStringLiteral(", %1 stored already").arg(r.alreadyStored) : QString()));
        return r.daysFailed > 0 ? 1 : 0;
    } catch (const StoreError &e) {
        std::fprintf(stderr, "chenglan-service: %s\n", e.what());
        return 1;
    }
}

int backtestCommand(QStringList args) {
    bool missing = false;
    bool bad = false;
    const QString db = takeOption(args, QStringLiteral("--db"), &missing);
    BacktestRange range;
    range.from = dayOption(args, QStringLiteral("--from"), &bad);
    range.to = dayOption(args, QStringLiteral("--to"), &bad);
    const bool csv = args.removeAll(QStringLiteral("--csv")) > 0;
    if (missing || bad || !args.isEmpty())
        return usage("backtest takes [--db FILE] [--from Y-M-D] [--to Y-M-D] [--csv]");
    const QString path = db.isEmpty() ? QString::fromLatin1(kDefaultDatabase) : db;
    if (!isPostgresAddress(path) && !QFile::exists(path)) {
        std::fprintf(stderr, "chenglan-service: no database %s\n", qPrintable(path));
        return 1;
    }
    try {
        MatchStore store(path, MatchStore::Access::ReadOnly);
        const Backtest result = runBacktest(store, range);
        const QByteArray out = (csv ? backtestCsv(result) : backtestText(result)).toUtf8();
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
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
    if (command == QLatin1String("ingest")) {
        // The network client runs a local event loop per fetch, which needs
        // the application object.
        QCoreApplication app(argc, argv);
        return ingestCommand(args);
    }
    if (command == QLatin1String("backtest"))
        return backtestCommand(args);
    if (command == QLatin1String("backup"))
        return backupCommand(args);
    return usage("unknown command");
}
