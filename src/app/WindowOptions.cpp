#include "app/WindowOptions.h"

#include "net/PoliteWeb.h"
#include "net/QtWeb.h"

#include <memory>

namespace chenglan {

void addSiteOptions(QCommandLineParser &parser) {
    for (const SiteField &f : siteFields())
        parser.addOption(QCommandLineOption(f.option, QStringLiteral("Base address (ends in /)."), QStringLiteral("URL")));
}

SiteOverrides siteOverrides(const QCommandLineParser &parser) {
    SiteOverrides overrides;
    for (const SiteField &f : siteFields())
        if (parser.isSet(f.option))
            overrides.insert(f.key, parser.value(f.option));
    return overrides;
}

MainWindowSetup windowSetup(const QCommandLineParser &parser, const AppSettings *settings) {
    MainWindowSetup setup;
    setup.sites = withOverrides(settings ? settings->sites() : SiteBases(), siteOverrides(parser));
    if (settings)
        setup.firstGame = settings->lastGame();

    auto hosts = std::make_shared<HostSchedule>();
    setup.webs = [hosts]() -> std::unique_ptr<Web> {
        auto client = std::make_unique<QtWeb>();
        const auto bound = client->limits().deadline;
        auto polite = std::make_unique<PoliteWeb>(std::move(client), hosts);
        polite->setTimeBound(bound);
        return polite;
    };
    return setup;
}

} // namespace chenglan
