#include "app/SettingsMenu.h"

#include "app/HelpMenu.h"
#include "app/MainWindow.h"
#include "app/SettingsDialog.h"
#include "app/WindowFit.h"
#include "sites/ServiceEndpoint.h"

#include <QEvent>
#include <QMenuBar>
#include <QMessageBox>

namespace chenglan {

namespace {

// Stores the window's geometry when it is closed.
class GeometryKeeper : public QObject {
public:
    GeometryKeeper(QWidget *window, AppSettings *settings) : QObject(window), m_settings(settings) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Close) {
            m_settings->setWindowGeometry(static_cast<QWidget *>(watched)->saveGeometry());
            m_settings->sync();
        }
        return false;
    }

private:
    AppSettings *m_settings;
};

} // namespace

void addSettingsCommand(MainWindow *window, AppSettings *settings, const CommandLineSites &overrides, WebFactory webs,
                        std::function<void(bool)> fetchAheadChanged) {
    auto *action = new QAction(QStringLiteral("设置"), window);
    action->setObjectName(QStringLiteral("munSettings"));
    window->menuBar()->insertAction(helpMenuAction(window), action);
    QObject::connect(action, &QAction::triggered, window, [window, settings, overrides, webs, fetchAheadChanged] {
        const SiteBases before = settings->sites();
        SettingsDialog dialog(before, settings->fetchAhead(), overrides, webs, window);
        if (dialog.exec() != QDialog::Accepted)
            return;
        const SiteBases after = dialog.sites();
        settings->setSites(after);
        // Only a turned switch reaches the running window, so that saving
        // other settings leaves a --no-prefetch run without fetching ahead.
        const bool fetchAhead = dialog.fetchAhead();
        const bool fetchAheadTurned = fetchAhead != settings->fetchAhead();
        settings->setFetchAhead(fetchAhead);
        if (fetchAheadTurned && fetchAheadChanged)
            fetchAheadChanged(fetchAhead);
        // A typed service address replaces the remembered server slot from
        // the next start on. While a slot is in use (ticked), its address
        // stays for this run, so that the ticked slot is the one queries go
        // to.
        const bool serviceTyped = !overrides.contains(QStringLiteral("service")) && after.service != before.service;
        const int slotInUse = window->selectedServerSlot();
        if (serviceTyped)
            settings->setServerSlot(-1);
        settings->sync();
        // Only what was changed here: a server slot may have set the
        // service address in use since the start.
        SiteBases inUse = window->sites();
        for (const SiteField &f : siteFields())
            if (!overrides.contains(f.key) && !(after.*f.member == before.*f.member)
                && !(f.member == &SiteBases::service && slotInUse >= 0))
                inUse.*f.member = after.*f.member;
        window->setSites(inUse);
        if (serviceTyped && slotInUse >= 0)
            QMessageBox::information(window, QStringLiteral("设置"),
                                     QStringLiteral("新的数据服务地址已保存，下次启动时使用；本次仍使用%1的地址。")
                                         .arg(serverSlotCaption(slotInUse)));
    });
}

void restoreRemembered(MainWindow *window, const AppSettings &settings) {
    const QByteArray geometry = settings.windowGeometry();
    if (!geometry.isEmpty() && window->restoreGeometry(geometry))
        fitWindowToScreen(window);
    const int slot = settings.serverSlot();
    if (slot >= 0)
        QObject::connect(
            window, &MainWindow::scheduleShown, window, [window, slot] { window->selectServerSlot(slot); },
            Qt::SingleShotConnection);
}

void rememberChanges(MainWindow *window, AppSettings *settings) {
    QObject::connect(window, &MainWindow::scheduleShown, window,
                     [window, settings] { settings->setLastGame(window->listedRequest().game); });
    QObject::connect(window, &MainWindow::serverSlotShown, window,
                     [window, settings] { settings->setServerSlot(window->selectedServerSlot()); });
    new GeometryKeeper(window, settings);
}

} // namespace chenglan
