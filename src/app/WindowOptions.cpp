#include "app/WindowOptions.h"

#include "net/NetworkWeb.h"

#include <memory>

namespace chenglan {

void addSiteOptions(QCommandLineParser &parser) {
    for (const SiteField &f : siteFields())
        parser.addOption(
            QCommandLineOption(f.option, QStringLiteral("Base address (ends in /)."), QStringLiteral("URL")));
}

CommandLineSites commandLineSites(const QCommandLineParser &parser, QString *error) {
    CommandLineSites sites;
    for (const SiteField &f : siteFields()) {
        if (!parser.isSet(f.option))
            continue;
        const QString value = parser.value(f.option);
        const QString problem = siteAddressProblem(f, value);
        if (problem.isEmpty())
            sites.insert(f.key, value);
        else if (error && error->isEmpty())
            *error = problem;
    }
    return sites;
}

MainWindowSetup windowSetup(const QCommandLineParser &parser, QString *error, const AppSettings *settings,
                            WindowCacheSetup *cache) {
    MainWindowSetup setup;
    setup.sites = withOverrides(settings ? settings->sites() : SiteBases(), commandLineSites(parser, error));
    if (settings)
        setup.firstGame = settings->lastGame();

    auto hosts = std::make_shared<HostSchedule>();
    setup.webs = [hosts]() -> std::unique_ptr<Web> { return politeNetworkWeb(hosts); };
    if (cache)
        setup.webs = withCache(std::move(setup.webs), *cache);
    return setup;
}

} // namespace chenglan
