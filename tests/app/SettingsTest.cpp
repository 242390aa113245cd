#include "app/AppSettings.h"
#include "app/MainWindow.h"
#include "app/SettingsDialog.h"
#include "app/SettingsMenu.h"
#include "app/WindowOptions.h"
#include "TestSite.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace chenglan;

// What the user set is there after a restart, and an address given on the
// command line wins for that run without being stored.
TEST(AppSettings, WhatIsSetIsReadBackAfterReopeningAndTheCommandLineWins) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("chenglan.ini"));
    SiteBases sites;
    sites.odds = QStringLiteral("http://odds.example.test:8080/odds/");
    sites.service = QStringLiteral("https://service.example.test/");
    const QByteArray geometry("\x01\xd9\xd0\xcb geometry", 14);
    {
        AppSettings settings(file);
        EXPECT_EQ(settings.serverSlot(), -1) << "nothing chosen yet";
        EXPECT_TRUE(settings.fetchAhead()) << "on until turned off";
        EXPECT_EQ(settings.lastGame(), ScheduleRequest::Game::Jingcai);
        settings.setSites(sites);
        settings.setServerSlot(1);
        settings.setWindowGeometry(geometry);
        settings.setLastGame(ScheduleRequest::Game::Beidan);
        settings.setFetchAhead(false);
        settings.sync();
    }
    {
        AppSettings settings(file);
        EXPECT_EQ(settings.sites().odds, sites.odds);
        EXPECT_EQ(settings.sites().service, sites.service);
        EXPECT_EQ(settings.sites().analysis, SiteBases().analysis) << "never set: the build's default";
        EXPECT_EQ(settings.serverSlot(), 1);
        EXPECT_EQ(settings.windowGeometry(), geometry);
        EXPECT_EQ(settings.lastGame(), ScheduleRequest::Game::Beidan);
        EXPECT_FALSE(settings.fetchAhead());

        QCommandLineParser parser;
        addSiteOptions(parser);
        ASSERT_TRUE(parser.parse(
            {QStringLiteral("chenglan"), QStringLiteral("--service"), QStringLiteral("http://127.0.0.1:9/")}));
        const MainWindowSetup setup = windowSetup(parser, nullptr, &settings);
        EXPECT_EQ(setup.sites.service, QStringLiteral("http://127.0.0.1:9/")) << "the command line wins";
        EXPECT_EQ(setup.sites.odds, sites.odds) << "the stored address where none is given";
        EXPECT_EQ(setup.firstGame, ScheduleRequest::Game::Beidan);
        EXPECT_EQ(settings.sites().service, sites.service) << "the override is not stored";
    }
    {
        // An address edited into the file by hand that the window would not
        // accept reads as the default; a slot out of range as none.
        QSettings raw(file, QSettings::IniFormat);
        raw.setValue(QStringLiteral("sites/odds"), QStringLiteral("odds.example.test"));
        raw.setValue(QStringLiteral("serverSlot"), 7);
        raw.sync();
        AppSettings settings(file);
        EXPECT_EQ(settings.sites().odds, SiteBases().odds);
        EXPECT_EQ(settings.serverSlot(), -1);
    }
}

// The fetching-ahead switch turned in the settings dialog reaches the running
// window's fetching ahead (not only the stored settings); saving the dialog
// with the switch untouched leaves it alone, so that a run started without
// fetching ahead stays so.
TEST(SettingsCommand, TurningFetchingAheadReachesTheRunningWindow) {
    QTemporaryDir dir;
    AppSettings settings(dir.filePath(QStringLiteral("chenglan.ini")));
    chenglan::testing::TestSite site;
    MainWindowSetup setup;
    setup.webs = site.factory();
    setup.sites.odds = QStringLiteral("http://odds.test/");
    MainWindow window(std::move(setup));
    QList<bool> heard;
    addSettingsCommand(&window, &settings, {}, site.factory(), [&](bool on) { heard.append(on); });
    auto *command = window.findChild<QAction *>(QStringLiteral("munSettings"));
    ASSERT_NE(command, nullptr);

    // Saves the dialog the command opens, the switch set to `on`.
    const auto save = [&](bool on) {
        QTimer::singleShot(0, &window, [on] {
            auto *dialog = qobject_cast<SettingsDialog *>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->findChild<QCheckBox *>(QStringLiteral("fetchAhead"))->setChecked(on);
            dialog->accept();
        });
        command->trigger();
    };
    save(false);
    EXPECT_EQ(heard, QList<bool>{false});
    EXPECT_FALSE(settings.fetchAhead());
    save(false);
    EXPECT_EQ(heard, QList<bool>{false}) << "untouched: not heard again";
    save(true);
    EXPECT_EQ(heard, (QList<bool>{false, true}));
    EXPECT_TRUE(settings.fetchAhead());
}
