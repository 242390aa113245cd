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

} // namespace chenglan
