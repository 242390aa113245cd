// chenglan-cli schedule: the day's match list as the window lists it.
#include "cli/Cli.h"
#include "cli/WebOptions.h"

#include "base/ValueJson.h"
#include "model/GridFormats.h"
#include "usecases/ScheduleListing.h"

#include <QJsonArray>
#include <QJsonObject>

namespace chenglan::cli {
namespace {

QString outcomeName(ScheduleOutcome outcome) {
    switch (outcome) {
    case ScheduleOutcome::Listed:
        return QStringLiteral("listed");
    case ScheduleOutcome::NoMatch:
        return QStringLiteral("no-match");
    case ScheduleOutcome::NetworkFailed:
        return QStringLiteral("network-failed");
    case ScheduleOutcome::SiteError:
        return QStringLiteral("site-error");
    case ScheduleOutcome::LayoutChanged:
        return QStringLiteral("layout-changed");
    }
    return {};
}

// The data rows of matchList: every cell's text, the league cell's colour.
QJsonArray gridJson(const GridData &grid) {
    QJsonArray rows;
    for (int r = 1; r < grid.rows(); ++r) {
        QJsonArray cells;
        for (int c = 0; c < grid.columns(); ++c)
            cells.append(grid.text(r, c));
        const auto color = grid.cell(r, 0).backColor;
        rows.append(QJsonObject{{QStringLiteral("cells"), cells},
                                {QStringLiteral("leagueColor"), color ? QJsonValue(*color) : QJsonValue()}});
    }
    return rows;
}

int runSchedule(QStringList args) {
    SiteBases sites;
    WebFactory webs;
    if (!takeSiteOverrides(args, sites) || !takeWebOptions(args, webs))
        return 2;
    ScheduleRequest request;
    const QString date = takeOption(args, QStringLiteral("--date"));
    if (takeFlag(args, QStringLiteral("--beidan")))
        request.game = ScheduleRequest::Game::Beidan;
    if (!args.isEmpty()) {
        printError(QStringLiteral("schedule: unexpected \"%1\"").arg(args.first()));
        return 2;
    }
    if (!date.isNull()) {
        if (request.game == ScheduleRequest::Game::Beidan) {
            printError(QStringLiteral("schedule: --date and --beidan exclude each other"));
            return 2;
        }
        const auto day = scheduleDayText(date);
        if (!day) {
            printError(QStringLiteral("schedule: --date needs a day as Y-M-D, not \"%1\"").arg(date));
            return 2;
        }
        request.selectedDate = *day;
    }

    const std::unique_ptr<Web> web = webs();
    const ScheduleListing listing = listSchedule(request, *web, sites, PageRenderer());

    printJson(QJsonObject{
        {QStringLiteral("request"),
         QJsonObject{{QStringLiteral("game"), request.game == ScheduleRequest::Game::Beidan ? QStringLiteral("beidan")
                                                                                            : QStringLiteral("jingcai")},
                     {QStringLiteral("SelectedDate"), request.selectedDate}}},
        {QStringLiteral("MatchTable"), toJson(listing.state.matchTable)},
        {QStringLiteral("MatchRowFlags"), toJson(listing.state.matchRowFlags)},
        {QStringLiteral("grid"), gridJson(listing.grid)},
        {QStringLiteral("outcome"), outcomeName(listing.outcome)},
        {QStringLiteral("status"), listing.status},
        {QStringLiteral("failures"), failuresJson(listing.log)},
    });
    const bool read = listing.outcome == ScheduleOutcome::Listed || listing.outcome == ScheduleOutcome::NoMatch;
    return read ? 0 : 1;
}

const CommandRegistration registration{
    {QStringLiteral("schedule"), QStringLiteral("schedule [--date Y-M-D | --beidan] [site overrides] ") + QLatin1String(kWebOptionsUsage),
     QStringLiteral("Scrapes the odds site's Jingcai schedule of a day (the site's current day\n"
                    "without --date) or the current Beidan issue, lists it as the window does,\n"
                    "and prints JSON: MatchTable (rows of 21 fields), MatchRowFlags, grid (the\n"
                    "match list's rows: cells and the league cell's colour value), outcome,\n"
                    "the status-bar sentence and the failures of skipped statements.\n"
                    "Exits 1 when the schedule could not be read (network, error page, layout).\n"
                    "--record DIR stores every exchange in DIR; --replay DIR answers from it."),
     runSchedule}};

} // namespace
} // namespace chenglan::cli
