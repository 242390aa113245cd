// bench_window: the window's list clicks, timed. Opens the window as
// chenglan does (the same site options), then clicks the listed rows in
// turn N times, each after the previous one is shown, prints the time from
// the start to the list shown, the median time from click to pictures shown
// and the resident memory after clicks 1, 50 and 100 (on stderr, and as one
// JSON line on stdout), then quits. scripts/bench runs it on its own Xvfb.
//
//   bench_window [--clicks N] [--odds-site URL] [--analysis-site URL]
//                [--detail-site URL] [--service URL] [--server-list URL]
#include "app/GridView.h"
#include "app/MainWindow.h"
#include "app/WindowOptions.h"

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

// Clicks when no count is given.
constexpr int DefaultClicks = 100;

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
    const QCommandLineOption clicks(QStringLiteral("clicks"),
                                    QStringLiteral("Click the listed rows N times, print the times and quit."),
                                    QStringLiteral("N"), QString::number(DefaultClicks));
    parser.addOption(clicks);
    addSiteOptions(parser);
    parser.process(app);

    MainWindow window(windowSetup(parser));
    window.show();
    auto *bench = new ClickBench(window, std::max(1, parser.value(clicks).toInt()), sinceMain);
    QObject::connect(&window, &MainWindow::scheduleShown, bench, [bench] { bench->start(); },
                     Qt::SingleShotConnection);
    return app.exec();
}
