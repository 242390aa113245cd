// chenglan-cli handicap: the handicap change summary of one match.
#include "cli/Cli.h"
#include "cli/WebOptions.h"

#include "base/TextRules.h"
#include "base/ValueJson.h"
#include "sites/HandicapDetail.h"

#include <QJsonArray>
#include <QJsonObject>

namespace chenglan::cli {
namespace {

// The items of one match of handicapSummary under their meanings.
QJsonObject summaryJson(const Table &summary, int match) {
    using namespace handicap;
    const auto change = [&](int first) {
        const auto item = [&](int i) { return toJson(summary.at(first + i, match)); };
        return QJsonObject{{QStringLiteral("homeOdds"), item(HomeOddsItem)},
                           {QStringLiteral("handicap"), item(HandicapItem)},
                           {QStringLiteral("awayOdds"), item(AwayOddsItem)},
                           {QStringLiteral("time"), item(TimeItem)}};
    };
    return QJsonObject{
        {QStringLiteral("earliest"), change(EarliestItems)},
        {QStringLiteral("latest"), change(LatestItems)},
    };
}

int runHandicap(QStringList args) {
    SiteBases sites;
    WebFactory makeWeb;
    if (!takeSiteOverrides(args, sites) || !takeWebOptions(args, makeWeb))
        return 2;
    const QString id = takeOption(args, QStringLiteral("--match-id"));
    const QString date = takeOption(args, QStringLiteral("--date"));
    if (!args.isEmpty()) {
        printError(QStringLiteral("handicap: unexpected \"%1\"").arg(args.first()));
        return 2;
    }
    if (id.isEmpty()) {
        printError(QStringLiteral("handicap: --match-id ID is needed"));
        return 2;
    }
    const auto kickOff = text::parseDateTime(date);
    if (!kickOff) {
        printError(QStringLiteral("handicap: --date needs the match's day as Y-M-D, not \"%1\"").arg(date));
        return 2;
    }

    AnalysisState s;
    s.listMatchId = Value(id);
    s.listMatchTime = Value(*kickOff);
    s.handicapSummary = Table(HandicapItems, HandicapMatches);
    const std::unique_ptr<Web> web = makeWeb();
    StepLog log;
    const HandicapRun run = listMatchHandicapDetail(s, *web, sites, PageRenderer(), &log);
    printJson(QJsonObject{
        {QStringLiteral("CurrentMatchId"), toJson(s.currentMatchId)},
        {QStringLiteral("MatchDate"), toJson(s.matchDate)},
        {QStringLiteral("HandicapSummary"), toJson(s.handicapSummary)},
        {QStringLiteral("summary"), summaryJson(s.handicapSummary, handicap::ListMatchRow)},
        {QStringLiteral("changes"), run.changes},
        {QStringLiteral("status"), run.status},
        {QStringLiteral("failures"), failuresJson(log)},
    });
    return run.pageRead ? 0 : 1;
}

const CommandRegistration registration{
    {QStringLiteral("handicap"), QStringLiteral("handicap --match-id ID --date Y-M-D [site overrides] ") + QLatin1String(kWebOptionsUsage),
     QStringLiteral("Fetches the handicap change detail of one match from the odds-detail site\n"
                    "and prints the earliest and the latest change as HandicapSummary (match 0)\n"
                    "in JSON. The date is the match's day: a change in November or December\n"
                    "of a match played from January to September belongs to the year before.\n"
                    "Exits 1 when the page could not be read or had no change table."),
     runHandicap}};

} // namespace
} // namespace chenglan::cli
