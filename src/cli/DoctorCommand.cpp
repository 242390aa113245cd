// chenglan-cli doctor: fetches one page of each kind and says whether the
// readers still find what they rely on.
#include "cli/Cli.h"
#include "cli/WebOptions.h"
#include "usecases/SiteDoctor.h"

namespace chenglan::cli {
namespace {

int runDoctor(QStringList args) {
    SiteBases bases;
    if (!takeSiteOverrides(args, bases))
        return 2;
    WebFactory factory;
    if (!takeWebOptions(args, factory))
        return 2;
    const bool json = takeFlag(args, QStringLiteral("--json"));
    QString date = takeOption(args, QStringLiteral("--date"));
    if (!date.isNull()) {
        const auto day = scheduleDayText(date);
        if (!day) {
            printError(QStringLiteral("chenglan-cli doctor: --date needs a day as Y-M-D, not \"%1\"").arg(date));
            return 2;
        }
        date = *day;
    }
    if (!args.isEmpty()) {
        printError(QStringLiteral("chenglan-cli doctor: unknown argument \"%1\"").arg(args.first()));
        return 2;
    }
    const std::unique_ptr<Web> web = factory();
    DoctorReport report;
    try {
        report = diagnoseSites(*web, bases, PageRenderer(), date);
    } catch (const StepFailure &failure) {
        printError(QStringLiteral("chenglan-cli doctor: %1").arg(failure.message()));
        return 1;
    }
    if (json)
        printJson(doctorJson(report));
    else
        printOut(doctorTable(report));
    return report.ok() ? 0 : 1;
}

const CommandRegistration registration{
    {QStringLiteral("doctor"),
     QStringLiteral("doctor [site overrides] [--date Y-M-D] [--json] ") + QString::fromLatin1(kWebOptionsUsage),
     QStringLiteral("Fetches one page of each kind the client reads (the Jingcai and Beidan schedules,\n"
                    "the analysis and change-detail pages of the first listed match, a neutral\n"
                    "similar-match query and the server list's link file) and reports for each\n"
                    "whether it was reached, the charset it was decoded with, the markers the\n"
                    "readers rely on that were found or missing, and the rows read. Exits 0 when\n"
                    "every page reads as expected, 1 otherwise."),
     runDoctor}};

} // namespace
} // namespace chenglan::cli
