// chenglan-cli analyze: a click on a match-list row, without a window.
#include "cli/Cli.h"
#include "cli/WebOptions.h"

#include "model/GridFormats.h"
#include "model/MatchClicks.h"
#include "model/ScheduleListing.h"

#include <QJsonObject>

namespace chenglan::cli {
namespace {

const char Usage[] = "analyze (--row N [--date Y-M-D | --beidan] | --match-id ID) [--png DIR] [site overrides] ";

int usage(const QString &why) {
    printError(QStringLiteral("analyze: %1").arg(why));
    printError(QStringLiteral("usage: chenglan-cli ") + QLatin1String(Usage) + QLatin1String(kWebOptionsUsage));
    return 2;
}

int runAnalyze(QStringList args) {
    SiteBases sites;
    WebFactory makeWeb;
    if (!takeSiteOverrides(args, sites) || !takeWebOptions(args, makeWeb))
        return 2;
    const QString matchId = takeOption(args, QStringLiteral("--match-id"));
    const QString row = takeOption(args, QStringLiteral("--row"));
    const QString date = takeOption(args, QStringLiteral("--date"));
    const bool beidan = takeFlag(args, QStringLiteral("--beidan"));
    const QString pngDir = takeOption(args, QStringLiteral("--png"));
    if (!args.isEmpty())
        return usage(QStringLiteral("unexpected \"%1\"").arg(args.first()));
    if (matchId.isNull() == row.isNull())
        return usage(QStringLiteral("give either --row N or --match-id ID"));
    if (!matchId.isNull() && matchId.isEmpty())
        return usage(QStringLiteral("--match-id needs an id"));
    if (!pngDir.isNull() && pngDir.isEmpty())
        return usage(QStringLiteral("--png needs a folder"));

    ScheduleRequest request;
    if (!row.isNull()) {
        bool ok = false;
        const int n = row.toInt(&ok);
        if (!ok || n < 0)
            return usage(QStringLiteral("--row needs a MatchTable row number, not \"%1\"").arg(row));
        if (beidan && !date.isNull())
            return usage(QStringLiteral("--date and --beidan exclude each other"));
        if (beidan)
            request.game = ScheduleRequest::Game::Beidan;
        if (!date.isNull()) {
            const auto day = scheduleDayText(date);
            if (!day)
                return usage(QStringLiteral("--date needs a day as Y-M-D, not \"%1\"").arg(date));
            request.selectedDate = *day;
        }
    } else if (beidan || !date.isNull()) {
        return usage(QStringLiteral("--date and --beidan choose the schedule of --row"));
    }

    const std::unique_ptr<Web> web = makeWeb();
    const std::unique_ptr<Web> second = makeWeb();
    const PageRenderer renderer;
    const AnalysisContext context{*web, sites, renderer, second.get(), {}};
    AnalysisState state;
    ChartPictures pictures = ChartPictures::make();
    GridData grid = newSimilarListGrid();
    try {
        QJsonObject json;
        ListClickRun run;
        if (!row.isNull()) {
            const ScheduleListing listing = listSchedule(request, *web, sites, renderer);
            run = listClick(state, listing.state, Value(row), context, pictures, grid);
            json = listClickJson(state, run, pictures, grid);
            json.insert(QStringLiteral("Schedule"), listing.status);
        } else {
            run = matchIdClick(state, Value(matchId), context, pictures, grid);
            json = listClickJson(state, run, pictures, grid);
        }
        json.insert(QStringLiteral("failures"), failuresJson(run.analysis.log));
        json.insert(QStringLiteral("queryFailures"), failuresJson(run.queryLog));
        json.insert(QStringLiteral("drawing"), failuresJson(run.drawLog));
        printJson(json);
        if (!pngDir.isNull() && !writePictures(pictures, pngDir, QStringLiteral("analyze")))
            return 1;
        if (!run.analysis.ok)
            printError(run.status);
        return run.analysis.pageRead ? 0 : 1;
    } catch (const StepFailure &failure) {
        printError(failure.message());
        return 1;
    }
}

const CommandRegistration registration{
    {QStringLiteral("analyze"), QLatin1String(Usage) + QLatin1String(kWebOptionsUsage),
     QStringLiteral(
         "Runs a click on a match-list row as the window does: --row N lists the Jingcai\n"
         "schedule of the day (--date, else the site's current day) or the current\n"
         "Beidan issue (--beidan) and clicks MatchTable row N; --match-id ID analyses a\n"
         "match outside the list (the captions stay empty). Loads the match's analysis\n"
         "page and the pages that extend both teams' histories, runs the strength model\n"
         "and the pattern codes, draws the strength panel and both trend charts, and asks\n"
         "the data service for similar matches. Prints the values as JSON under their\n"
         "names, with SimilarQuery, SimilarMatches, SimilarGrid (the grid lines), the\n"
         "texts each picture drew with their positions, the time each step took and the\n"
         "status sentences. --png DIR writes PIC_SR.png, PIC_TD0.png and PIC_TD1.png at\n"
         "the pictures' design sizes. Exits with 1 when the match's page could not be read."),
     runAnalyze, true}};

} // namespace
} // namespace chenglan::cli
