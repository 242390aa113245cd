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

// Whether text can be a base address: an absolute http(s) address with a
// host, without query or fragment, ending in "/" (request paths are appended
// to it). The command line and the settings dialog accept exactly these.
bool isSiteBase(const QString &text);

} // namespace chenglan
