#include "app/WindowPrefetch.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace chenglan {

namespace {

const QString CacheOption = QStringLiteral("cache");
const QString NoCacheOption = QStringLiteral("no-cache");
const QString NoPrefetchOption = QStringLiteral("no-prefetch");
// How long "预取完成" stays before the corner empties again.
constexpr int kDoneShownMs = 4000;

} // namespace

void addCacheOptions(QCommandLineParser &parser) {
    parser.addOption(QCommandLineOption(CacheOption, QStringLiteral("Keep pages that cannot change in DIR."),
                                        QStringLiteral("DIR")));
    parser.addOption(QCommandLineOption(NoCacheOption, QStringLiteral("Keep no page; fetch everything every time.")));
    parser.addOption(QCommandLineOption(NoPrefetchOption, QStringLiteral("Fetch no page ahead of a click.")));
}

WindowCacheSetup cacheSetup(const QCommandLineParser &parser) {
    WindowCacheSetup setup;
    if (!parser.isSet(NoCacheOption))
        setup.cache =
            std::make_shared<PageCache>(parser.isSet(CacheOption) ? parser.value(CacheOption) : defaultPageCacheDir());
    // Without a cache nothing fetched ahead would be kept for the click.
    setup.prefetch = setup.cache && !parser.isSet(NoPrefetchOption);
    return setup;
}

WebFactory withCache(WebFactory clients, WindowCacheSetup &setup) {
    if (!setup.cache)
        return clients;
    setup.aheadWebs = [clients, cache = setup.cache]() -> std::unique_ptr<Web> {
        return std::make_unique<CachingWeb>(clients(), cache);
    };
    return [clients, cache = setup.cache, gate = setup.gate]() -> std::unique_ptr<Web> {
        return std::make_unique<UserWeb>(std::make_unique<CachingWeb>(clients(), cache), gate);
    };
}

WindowPrefetch::WindowPrefetch(MainWindow &window, const WindowCacheSetup &setup, const SiteBases &sites)
    : QObject(&window), m_window(window) {
    if (!setup.aheadWebs)
        return;
    m_label = new QLabel(&window);
    m_label->setObjectName(QStringLiteral("prefetchProgress"));
    m_label->setEnabled(false); // greyed: it is only a hint
    window.statusBar()->addPermanentWidget(m_label);
    m_prefetcher = std::make_unique<Prefetcher>(setup.aheadWebs, sites, setup.gate);
    m_prefetcher->setEnabled(setup.prefetch);
    m_prefetcher->setProgressHook([this](const AheadProgress &progress) {
        QMetaObject::invokeMethod(
            this, [this, progress] { showProgress(progress); }, Qt::QueuedConnection);
    });
    connect(&window, &MainWindow::scheduleShown, this, [this] {
        m_label->clear();
        // The addresses in use now: the settings or a server slot may have
        // changed them since the start.
        m_prefetcher->setSiteBases(m_window.sites());
        m_prefetcher->start(m_window.schedule());
    });
}

WindowPrefetch::~WindowPrefetch() = default;

void WindowPrefetch::setEnabled(bool enabled) {
    if (!m_prefetcher)
        return;
    m_prefetcher->setEnabled(enabled);
    if (!enabled)
        m_label->clear();
}

bool WindowPrefetch::enabled() const { return m_prefetcher && m_prefetcher->enabled(); }

void WindowPrefetch::showProgress(const AheadProgress &progress) {
    if (!m_prefetcher->enabled())
        return;
    if (!progress.finished) {
        m_label->setText(QStringLiteral("预取 %1/%2").arg(progress.done).arg(progress.total));
        return;
    }
    m_label->setText(QStringLiteral("预取完成"));
    QTimer::singleShot(kDoneShownMs, m_label, [label = m_label] {
        if (label->text() == QStringLiteral("预取完成"))
            label->clear();
    });
}

} // namespace chenglan
