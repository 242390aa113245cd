#include "app/WindowOptions.h"

#include "net/PoliteWeb.h"
#include "net/QtWeb.h"

#include <memory>

namespace chenglan {

void addSiteOptions(QCommandLineParser &parser) {
    for (const SiteOverride &s : SiteOverrides)
        parser.addOption(QCommandLineOption(QString::fromLatin1(s.name), QStringLiteral("Base address (ends in /)."),
                                            QStringLiteral("URL")));
}

MainWindowSetup windowSetup(const QCommandLineParser &parser, QString *error) {
    MainWindowSetup setup;
    for (const SiteOverride &s : SiteOverrides) {
        if (!parser.isSet(QString::fromLatin1(s.name)))
            continue;
        const QString value = parser.value(QString::fromLatin1(s.name));
        const QString problem = siteOverrideProblem(s.name, value);
        if (problem.isEmpty())
            setup.sites.*s.field = value;
        else if (error && error->isEmpty())
            *error = problem;
    }

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
