#include "app/WindowOptions.h"

#include "net/PoliteWeb.h"
#include "net/QtWeb.h"

#include <memory>

namespace chenglan {

namespace {

const struct {
    const char *name;
    QString SiteBases::*field;
} SiteOptions[] = {{"odds-site", &SiteBases::odds},     {"analysis-site", &SiteBases::analysis},
                   {"detail-site", &SiteBases::detail}, {"service", &SiteBases::service},
                   {"server-list", &SiteBases::serverList}};

} // namespace

void addSiteOptions(QCommandLineParser &parser) {
    for (const auto &s : SiteOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(s.name), QStringLiteral("Base address (ends in /)."),
                                            QStringLiteral("URL")));
}

MainWindowSetup windowSetup(const QCommandLineParser &parser, WindowCacheSetup *cache) {
    MainWindowSetup setup;
    for (const auto &s : SiteOptions)
        if (parser.isSet(QString::fromLatin1(s.name)))
            setup.sites.*s.field = parser.value(QString::fromLatin1(s.name));

    auto hosts = std::make_shared<HostSchedule>();
    setup.webs = [hosts]() -> std::unique_ptr<Web> {
        auto client = std::make_unique<QtWeb>();
        const auto bound = client->limits().deadline;
        auto polite = std::make_unique<PoliteWeb>(std::move(client), hosts);
        polite->setTimeBound(bound);
        return polite;
    };
    if (cache)
        setup.webs = withCache(std::move(setup.webs), *cache);
    return setup;
}

} // namespace chenglan
