// The embedded-browser peer: an offscreen QWebEnginePage loads one local page
// and hands back document.body.innerText, first in a fresh engine (cold),
// then repeatedly (warm). Prints one JSON object like bench_pages time.
//
//   bench_webengine URL [--runs 30] [--timeout-ms 20000]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

[[noreturn]] void fail(const QString &why) {
    std::fprintf(stderr, "bench_webengine: %s\n", qPrintable(why));
    std::fflush(stderr);
    std::_Exit(1); // the engine's threads are not worth a clean shutdown here
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Loads the page, waits for its load to finish and reads the body's text.
// Returns the milliseconds from load() to the text in hand.
double loadAndRead(QWebEnginePage &page, const QUrl &url, int timeoutMs, QString *text) {
    QEventLoop loop;
    bool done = false;
    QString failure;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        failure = QStringLiteral("no text within %1 ms from %2").arg(timeoutMs).arg(url.toString());
        loop.quit();
    });
    const auto connection = QObject::connect(&page, &QWebEnginePage::loadFinished, &loop, [&](bool ok) {
        if (!ok) {
            failure = QStringLiteral("loading %1 failed").arg(url.toString());
            loop.quit();
            return;
        }
        page.runJavaScript(QStringLiteral("document.body ? document.body.innerText : ''"), [&](const QVariant &v) {
            *text = v.toString();
            done = true;
            loop.quit();
        });
    });
    QElapsedTimer clock;
    clock.start();
    deadline.start(timeoutMs);
    page.load(url);
    loop.exec();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    QObject::disconnect(connection);
    if (!done)
        fail(failure);
    return ms;
}

} // namespace

int main(int argc, char **argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The same conditions as the headless browser: no GPU, no background or
    // QUIC traffic, no sandbox (the harness may run as root), and names that
    // never resolve, so nothing but the loopback pages can be reached. The
    // engine takes Chromium's switches from the application's arguments.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    std::vector<char *> engineArgs(argv, argv + argc);
    static char flags[][64] = {"--disable-gpu",
                               "--disable-quic",
                               "--disable-background-networking",
                               "--disable-component-update",
                               "--disable-sync",
                               "--no-first-run",
                               "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1"};
    for (char *flag : flags)
        engineArgs.push_back(flag);
    int engineArgc = int(engineArgs.size());
    engineArgs.push_back(nullptr);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QGuiApplication app(engineArgc, engineArgs.data());

    const QStringList args = app.arguments();
    auto option = [&](const QString &name, int fallback) {
        const qsizetype at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
    };
    const int runs = option(QStringLiteral("--runs"), 30);
    const int timeoutMs = option(QStringLiteral("--timeout-ms"), 20000);
    const QUrl url(args.value(1));
    if (url.host() != u"127.0.0.1")
        fail(QStringLiteral("only pages on 127.0.0.1 are loaded, not %1").arg(url.toString()));
    if (!url.isValid() || url.scheme().isEmpty() || runs < 1)
        fail(QStringLiteral("usage: bench_webengine URL [--runs N] [--timeout-ms MS]"));

    // An off-the-record profile: nothing from an earlier run on disk.
    QWebEngineProfile profile;
    QWebEnginePage page(&profile);
    const double startMs = double(sinceStart.nsecsElapsed()) / 1e6;

    QString text;
    const double coldMs = loadAndRead(page, url, timeoutMs, &text);
    std::vector<double> warm;
    QJsonArray warmRuns;
    for (int i = 0; i < runs; ++i) {
        warm.push_back(loadAndRead(page, url, timeoutMs, &text));
        warmRuns.append(warm.back());
    }
    const QJsonObject result{{QStringLiteral("engine"), QStringLiteral("webengine")},
                             {QStringLiteral("version"), QString::fromLatin1(qWebEngineChromiumVersion())},
                             {QStringLiteral("startMs"), startMs},
                             {QStringLiteral("coldMs"), coldMs},
                             {QStringLiteral("warmMs"), warmRuns},
                             {QStringLiteral("medianMs"), median(warm)},
                             {QStringLiteral("text"), text}};
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
    return 0;
}
