#pragma once
// The window as the window tests open it: on the given sites, its clock on
// the sample servers' day, shown, and its first list loaded.
#include "SampleServers.h"
#include "app/MainWindow.h"
#include "app/GridView.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace chenglan::testing {

inline std::unique_ptr<MainWindow> openSampleWindow(const SiteBases &sites, WebFactory webs,
                                                 const QString &recordingsRoot = QString()) {
    MainWindowSetup setup;
    setup.recordingsRoot = recordingsRoot;
    setup.webs = std::move(webs);
    setup.sites = sites;
    setup.today = [] { return QDate::fromString(QLatin1String(SampleServers::Today), Qt::ISODate); };
    auto window = std::make_unique<MainWindow>(std::move(setup));
    QSignalSpy listed(window.get(), &MainWindow::scheduleShown);
    window->show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed.count() == 1; }, 60000));
    EXPECT_GE(window->matchList()->grid().rows(), 3) << window->statusText().toStdString();
    return window;
}

} // namespace chenglan::testing
