#include "app/WindowOptions.h"

#include "net/PoliteWeb.h"
#include "net/QtWeb.h"

#include <memory>

namespace chenglan {

void addSiteOptions(QCommandLineParser &parser) {
    for (const SiteField &f : siteFields())
        parser.addOption(QCommandLineOption(f.option, QStringLiteral("Base address (ends in /)."), QStringLiteral("URL")));
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

MainWindowSetup windowSetup(const QCommandLineParser &parser, QString *error, const AppSettings *settings) {
    MainWindowSetup setup;
    setup.sites = withOverrides(settings ? settings->sites() : SiteBases(), commandLineSites(parser, error));
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
