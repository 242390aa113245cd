// chenglan: the desktop window.
//
// Developer options, for screenshots and for trying the window against
// another copy of the sites: --screenshot OUT.png [--row N] saves a picture
// of the whole window once the list has loaded (after clicking list row N
// and waiting for its job, or with the calendar shown: --calendar), then quits; --odds-site, --analysis-site,
// --detail-site, --service and --server-list replace the built-in addresses.
#include "app/FrmMain.h"
#include "app/GridView.h"
#include "web/PoliteWeb.h"
#include "web/QtWeb.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

using namespace chenglan;

namespace {

// Saves a picture of the window once no job is running any more.
void saveWhenIdle(FrmMain &window, const QString &path) {
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
    QApplication::setApplicationName(QStringLiteral("chenglan"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"), QStringLiteral("Save the window to FILE and quit."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption row(QStringLiteral("row"), QStringLiteral("Click list row N before the screenshot."),
                                 QStringLiteral("N"));
    const QCommandLineOption calendar(QStringLiteral("calendar"), QStringLiteral("Show the calendar before the screenshot."));
    parser.addOption(screenshot);
    parser.addOption(row);
    parser.addOption(calendar);
    FrmMainSetup setup;
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
    FrmMain window(std::move(setup));
    window.show();

    if (parser.isSet(screenshot)) {
        const QString path = parser.value(screenshot);
        const int listRow = parser.isSet(row) ? parser.value(row).toInt() : 0;
        const bool showCalendar = parser.isSet(calendar);
        QObject::connect(
            &window, &FrmMain::scheduleShown, &window,
            [&window, path, listRow, showCalendar] {
                if (listRow > 0)
                    window.MFG_BFS_Click(listRow, 2);
                if (showCalendar)
                    window.munOver_Click();
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
