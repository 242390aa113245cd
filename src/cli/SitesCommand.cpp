// chenglan-cli sites: the base addresses this build reads from.
#include "cli/Cli.h"

#include <QJsonObject>

namespace chenglan::cli {
namespace {

int runSites(QStringList args) {
    SiteBases bases;
    if (!takeSiteOverrides(args, bases))
        return 2;
    printJson(QJsonObject{{QStringLiteral("odds-site"), bases.odds},
                          {QStringLiteral("analysis-site"), bases.analysis},
                          {QStringLiteral("detail-site"), bases.detail},
                          {QStringLiteral("service"), bases.service},
                          {QStringLiteral("server-list"), bases.serverList}});
    return 0;
}

const CommandRegistration registration{
    {QStringLiteral("sites"), QStringLiteral("sites [site overrides]"),
     QStringLiteral("Prints the base addresses of the odds site, the analysis site,\n"
                    "the odds-detail site, the data service and the server list,\n"
                    "after the overrides --odds-site, --analysis-site, --detail-site,\n"
                    "--service and --server-list (each an address ending in \"/\")."),
     runSites}};

} // namespace
} // namespace chenglan::cli
