#pragma once

#include "app/MainWindow.h"
#include "net/PageCache.h"
#include "usecases/Prefetcher.h"

#include <QCommandLineParser>
#include <QObject>

#include <memory>

class QLabel;

namespace chenglan {

// The window's page cache and fetching ahead, as the command line sets them:
// --cache DIR (default: the user's cache folder), --no-cache, --no-prefetch.
struct WindowCacheSetup {
    std::shared_ptr<PageCache> cache; // none with --no-cache
    std::shared_ptr<UserFirstGate> gate = std::make_shared<UserFirstGate>();
    bool prefetch = true; // off with --no-prefetch or --no-cache
    WebFactory aheadWebs; // the Webs fetching ahead uses; set with the user's
};

void addCacheOptions(QCommandLineParser &parser);
WindowCacheSetup cacheSetup(const QCommandLineParser &parser);

// Wraps the window's client factory: the user's jobs get pages through the
// cache and hold fetching ahead back while they fetch (UserWeb); fetching
// ahead gets the same clients with the cache. Sets setup.aheadWebs.
WebFactory withCache(WebFactory clients, WindowCacheSetup &setup);

// Fetches ahead the pages of every list the window shows (on its own thread,
// see Prefetcher), and shows quietly how far it got at the right of the
// status bar.
class WindowPrefetch : public QObject {
    Q_OBJECT
public:
    WindowPrefetch(MainWindow &window, const WindowCacheSetup &setup, const SiteBases &sites);
    ~WindowPrefetch() override;

    // The switch a settings dialog turns; off cancels what runs.
    void setEnabled(bool enabled);
    bool enabled() const;

private:
    void showProgress(const AheadProgress &progress);

    MainWindow &m_window;
    QLabel *m_label = nullptr;
    std::unique_ptr<Prefetcher> m_prefetcher; // none without a cache
};

} // namespace chenglan
