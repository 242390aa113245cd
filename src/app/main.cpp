// chenglan: the desktop window.
//
// Developer options, for screenshots and for trying the window
// against another copy of the sites: --screenshot OUT.png [--row N
// [--similar-row K]] saves a picture of the whole window once the list has
// loaded (after clicking list row N and waiting for its job, then similar
// grid line K and its job; or with the calendar shown: --calendar), then
// quits; --odds-site, --analysis-site, --detail-site, --service and
// --server-list replace the built-in addresses. --cache DIR, --no-cache and
// --no-prefetch set the page cache and fetching ahead. The click benchmark is
// bench_window (bench/window), the same window timed.
#include "app/MainWindow.h"
#include "app/SettingsMenu.h"
#include "app/WindowOptions.h"
#include "app/WindowPrefetch.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

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

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    // Where QSettings keeps what the window remembers.
    QApplication::setOrganizationName(QStringLiteral("chenglan"));
    QApplication::setApplicationName(QStringLiteral("chenglan"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save the window to FILE and quit."), QStringLiteral("FILE"));
    const QCommandLineOption row(QStringLiteral("row"), QStringLiteral("Click list row N before the screenshot."),
                                 QStringLiteral("N"));
    const QCommandLineOption similarRow(QStringLiteral("similar-row"),
                                        QStringLiteral("Then click similar-match grid line K before the screenshot."),
                                        QStringLiteral("K"));
    const QCommandLineOption calendar(QStringLiteral("calendar"),
                                      QStringLiteral("Show the calendar before the screenshot."));
    parser.addOption(screenshot);
    parser.addOption(row);
    parser.addOption(similarRow);
    parser.addOption(calendar);
    addSiteOptions(parser);
    addCacheOptions(parser);
    parser.process(app);
    // A screenshot shows the build's defaults and leaves the user's settings alone.
    const bool remember = !parser.isSet(screenshot);
    AppSettings settings;
    WindowCacheSetup cache = cacheSetup(parser);
    // Fetching ahead as the settings' switch says, and never for a screenshot
    // (which shows the window without the fetching-ahead hint).
    cache.prefetch = cache.prefetch && remember && settings.fetchAhead();
    QString badOption;
    MainWindowSetup setup = windowSetup(parser, &badOption, remember ? &settings : nullptr, &cache);
    if (!badOption.isEmpty()) {
        std::fprintf(stderr, "chenglan: %s\n", qPrintable(badOption));
        return 2;
    }
    const WebFactory webs = setup.webs;
    const SiteBases sites = setup.sites;
    MainWindow window(std::move(setup));
    auto *prefetch = new WindowPrefetch(window, cache, sites); // the window owns it
    addSettingsCommand(&window, &settings, commandLineSites(parser), webs,
                       [prefetch](bool on) { prefetch->setEnabled(on); });
    if (remember) {
        restoreRemembered(&window, settings);
        rememberChanges(&window, &settings);
    }
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
                        [&window, similarLine] { window.analyzeSimilarMatch(similarLine, 2); },
                        Qt::SingleShotConnection);
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
    return app.exec();
}
