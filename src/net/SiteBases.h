#pragma once

#include <QString>

namespace chenglan {

// Base addresses of the sites the client reads, each ending in "/". The
// defaults are build configuration values (CMake cache variables) and point
// at the bundled sample site and data service.
struct SiteBases {
    QString odds = QStringLiteral(CHENGLAN_ODDS_SITE);           // schedule pages
    QString analysis = QStringLiteral(CHENGLAN_ANALYSIS_SITE);   // per-match analysis pages
    QString detail = QStringLiteral(CHENGLAN_DETAIL_SITE);       // handicap change detail
    QString service = QStringLiteral(CHENGLAN_SERVICE);          // the operator's data service
    QString serverList = QStringLiteral(CHENGLAN_SERVER_LIST);   // server-slot link files
};

// The options that replace a base address for one run, by name without the
// leading "--", shared by the command line and the window.
struct SiteOverride {
    const char *name;
    QString SiteBases::*field;
};
inline constexpr SiteOverride SiteOverrides[] = {
    {"odds-site", &SiteBases::odds},     {"analysis-site", &SiteBases::analysis},
    {"detail-site", &SiteBases::detail}, {"service", &SiteBases::service},
    {"server-list", &SiteBases::serverList},
};

// Why value cannot replace a base address (it must be an http(s) address
// ending in "/"), as the message the command line and the window print for
// "--<name> value"; empty when it can. The one check of an override.
inline QString siteOverrideProblem(const char *name, const QString &value) {
    const bool http = value.startsWith(QStringLiteral("http://")) || value.startsWith(QStringLiteral("https://"));
    if (http && value.endsWith(u'/'))
        return {};
    return QStringLiteral("--%1 needs an http(s) address ending in \"/\", not \"%2\"").arg(QString::fromLatin1(name), value);
}

} // namespace chenglan
