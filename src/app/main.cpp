// chenglan: the desktop window.
//
// Developer options, for screenshots, for timing and for trying the window
// against another copy of the sites: --screenshot OUT.png [--row N
// [--similar-row K]] saves a picture of the whole window once the list has
// loaded (after clicking list row N and waiting for its job, then similar
// grid line K and its job; or with the calendar shown: --calendar), then
// quits; --bench-clicks N clicks the listed rows in turn N times, each
// after the previous one is shown, prints the time from the start to the
// list shown, the median time from click to pictures shown and the resident
// memory after clicks 1, 50 and 100 (on stderr, and as one JSON line on
// stdout), then quits; --odds-site, --analysis-site, --detail-site, --service and
// --server-list replace the built-in addresses.
#include "app/MainWindow.h"
#include "app/GridView.h"
#include "net/PoliteWeb.h"
#include "net/QtWeb.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>

using namespace chenglan;

namespace {

// Saves a picture of the window once no job is running any more.
void saveWhenIdle(MainWindow &window, const QString &path) {
    auto save = [&window, path] {
        QTimer::singleShot(0, &window, [&window, path] {
            const bool ok = window.grab().save(path);
            std::fprintf(stderr, "%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
            QCoreApplication::exit(ok ? 0 : 1);
        });
    };
    if (window.jobs().busy())
        QObject::connect(&window.jobs(), &JobRunner::idle, &window, save, Qt::SingleShotConnection);
    else
        save();
}

// Resident memory of this process in MiB, from /proc; 0 when unknown.
double residentMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}

// Milliseconds since the kernel started this process (its loading and
// linking included), from /proc at the kernel's clock-tick resolution; -1
// when unknown.
double msSinceProcessStart() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    timespec now{};
    const long ticks = sysconf(_SC_CLK_TCK);
    if (!stat.open(QIODevice::ReadOnly) || ticks <= 0 || clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return -1;
    // The command name in parentheses may hold blanks: fields count after it.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    bool ok = false;
    const double started = fields.value(19).toDouble(&ok) / double(ticks); // field 22, starttime
    if (!ok)
        return -1;
    return (double(now.tv_sec) + double(now.tv_nsec) / 1e9 - started) * 1000;
}

double median(QList<double> v) {
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Clicks the listed rows in turn, each once the previous click is shown,
// and prints the times the window measured.
class ClickBench : public QObject {
public:
    ClickBench(MainWindow &window, int clicks, const QElapsedTimer &sinceMain)
        : QObject(&window), m_window(window), m_clicks(clicks), m_sinceMain(sinceMain) {
        connect(&window, &MainWindow::analysisShown, this, [this] { shown(); });
    }
    void start() {
        m_listShownFromMainMs = double(m_sinceMain.nsecsElapsed()) / 1e6;
        m_listShownMs = msSinceProcessStart();
        std::fprintf(stderr, "bench-clicks: start to list shown: %.0f ms since the process started, %.1f ms since main\n",
                     m_listShownMs, m_listShownFromMainMs);
        m_rows = m_window.matchList()->grid().rows() - 1;
        if (m_rows < 1) {
            std::fprintf(stderr, "bench-clicks: the list is empty\n");
            QCoreApplication::exit(3);
            return;
        }
        next();
    }

private:
    void next() { m_window.analyzeListedMatch(m_done % m_rows + 1, 2); }
    void shown() {
        ++m_done;
        if (m_done == 1 || m_done == 50 || m_done == 100) {
            const double resident = residentMiB();
            m_memory.append(QStringLiteral("%1: %2 MiB").arg(m_done).arg(resident, 0, 'f', 1));
            m_residentMiB[QString::number(m_done)] = resident;
        }
        if (m_done < m_clicks) {
            QTimer::singleShot(0, this, [this] { next(); });
            return;
        }
        QList<double> times = m_window.clickTimesMs();
        std::sort(times.begin(), times.end());
        const double p90 = times[std::min<qsizetype>(times.size() - 1, qsizetype(times.size() * 0.9))];
        std::fprintf(stderr,
                     "bench-clicks: %d clicks over %d rows; click to pictures shown: median %.1f ms, "
                     "90th percentile %.1f ms, min %.1f ms, max %.1f ms; resident memory after click %s\n",
                     m_done, m_rows, m_window.medianClickMs(), p90, times.first(), times.last(),
                     qPrintable(m_memory.join(QStringLiteral(", "))));
        const QJsonObject figures{{QStringLiteral("listShownMs"), m_listShownMs},
                                  {QStringLiteral("listShownFromMainMs"), m_listShownFromMainMs},
                                  {QStringLiteral("clicks"), m_done},
                                  {QStringLiteral("rows"), m_rows},
                                  {QStringLiteral("medianMs"), m_window.medianClickMs()},
                                  {QStringLiteral("median50Ms"), median(m_window.clickTimesMs().mid(0, 50))},
                                  {QStringLiteral("p90Ms"), p90},
                                  {QStringLiteral("minMs"), times.first()},
                                  {QStringLiteral("maxMs"), times.last()},
                                  {QStringLiteral("residentMiB"), m_residentMiB}};
        std::printf("%s\n", QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    }

    MainWindow &m_window;
    int m_clicks;
    const QElapsedTimer &m_sinceMain;
    int m_rows = 0;
    int m_done = 0;
    double m_listShownMs = -1;
    double m_listShownFromMainMs = -1;
    QStringList m_memory;
    QJsonObject m_residentMiB;
};

} // namespace

int main(int argc, char **argv) {
    QElapsedTimer sinceMain;
    sinceMain.start();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("chenglan"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"), QStringLiteral("Save the window to FILE and quit."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption row(QStringLiteral("row"), QStringLiteral("Click list row N before the screenshot."),
                                 QStringLiteral("N"));
    const QCommandLineOption similarRow(QStringLiteral("similar-row"),
                                        QStringLiteral("Then click similar-match grid line K before the screenshot."),
                                        QStringLiteral("K"));
    const QCommandLineOption calendar(QStringLiteral("calendar"), QStringLiteral("Show the calendar before the screenshot."));
    const QCommandLineOption benchClicks(QStringLiteral("bench-clicks"),
                                         QStringLiteral("Click the listed rows N times, print the times and quit."),
                                         QStringLiteral("N"));
    parser.addOption(screenshot);
    parser.addOption(row);
    parser.addOption(similarRow);
    parser.addOption(calendar);
    parser.addOption(benchClicks);
    MainWindowSetup setup;
    const struct {
        const char *name;
        QString SiteBases::*field;
    } sites[] = {{"odds-site", &SiteBases::odds},     {"analysis-site", &SiteBases::analysis},
                 {"detail-site", &SiteBases::detail}, {"service", &SiteBases::service},
                 {"server-list", &SiteBases::serverList}};
    QList<QCommandLineOption> siteOptions;
    for (const auto &s : sites) {
        siteOptions.append(QCommandLineOption(QString::fromLatin1(s.name), QStringLiteral("Base address (ends in /)."),
                                              QStringLiteral("URL")));
        parser.addOption(siteOptions.last());
    }
    parser.process(app);
    for (qsizetype i = 0; i < siteOptions.size(); ++i)
        if (parser.isSet(siteOptions[i]))
            setup.sites.*sites[i].field = parser.value(siteOptions[i]);

    // One schedule for every job, so that jobs following each other quickly
    // still ask a site no faster than its spacing allows.
    auto hosts = std::make_shared<HostSchedule>();
    setup.webs = [hosts]() -> std::unique_ptr<Web> {
        auto client = std::make_unique<QtWeb>();
        const auto bound = client->limits().deadline;
        auto polite = std::make_unique<PoliteWeb>(std::move(client), hosts);
        polite->setTimeBound(bound);
        return polite;
    };
    MainWindow window(std::move(setup));
    window.show();

    if (parser.isSet(screenshot)) {
        const QString path = parser.value(screenshot);
        const int listRow = parser.isSet(row) ? parser.value(row).toInt() : 0;
        const int similarLine = parser.isSet(similarRow) ? parser.value(similarRow).toInt() : 0;
        const bool showCalendar = parser.isSet(calendar);
        QObject::connect(
            &window, &MainWindow::scheduleShown, &window,
            [&window, path, listRow, similarLine, showCalendar] {
                // The similar click starts while the list click is applied,
                // so the window is idle only once both are shown.
                if (listRow > 0 && similarLine > 0)
                    QObject::connect(
                        &window, &MainWindow::analysisShown, &window,
                        [&window, similarLine] { window.analyzeSimilarMatch(similarLine, 2); }, Qt::SingleShotConnection);
                if (listRow > 0)
                    window.analyzeListedMatch(listRow, 2);
                if (showCalendar)
                    window.toggleCalendar();
                saveWhenIdle(window, path);
            },
            Qt::SingleShotConnection);
        // A list that never comes still gives a picture, and a failure.
        QTimer::singleShot(90'000, &window, [] {
            std::fprintf(stderr, "the list did not load in time\n");
            QCoreApplication::exit(3);
        });
    }
    if (parser.isSet(benchClicks)) {
        auto *bench = new ClickBench(window, std::max(1, parser.value(benchClicks).toInt()), sinceMain);
        QObject::connect(&window, &MainWindow::scheduleShown, bench, [bench] { bench->start(); },
                         Qt::SingleShotConnection);
    }
    return app.exec();
}
