#pragma once
// The window as the window tests open it: on the given sites, its clock on
// the sample servers' day, shown, and its first list loaded.
#include "SampleServers.h"
#include "app/FrmMain.h"
#include "app/GridView.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace chenglan::testing {

inline std::unique_ptr<FrmMain> openSampleWindow(const SiteBases &sites, WebFactory webs,
                                                 const QString &recordingsRoot = QString()) {
    FrmMainSetup setup;
    setup.recordingsRoot = recordingsRoot;
    setup.webs = std::move(webs);
    setup.sites = sites;
    setup.today = [] { return QDate::fromString(QLatin1String(SampleServers::Today), Qt::ISODate); };
    auto window = std::make_unique<FrmMain>(std::move(setup));
    QSignalSpy listed(window.get(), &FrmMain::scheduleShown);
    window->show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed.count() == 1; }, 60000));
    EXPECT_GE(window->matchList()->grid().rows(), 3) << window->statusText().toStdString();
    return window;
}

} // namespace chenglan::testing
