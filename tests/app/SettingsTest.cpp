#include "app/AppSettings.h"
#include "app/WindowOptions.h"

#include <QSettings>
#include <QTemporaryDir>

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
