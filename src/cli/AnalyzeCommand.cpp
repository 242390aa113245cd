// chenglan-cli analyze: a click on a match-list row, without a window.
#include "cli/Cli.h"
#include "cli/WebOptions.h"

#include "model/GridFormats.h"
#include "usecases/MatchClicks.h"
#include "usecases/ScheduleListing.h"

#include <QJsonObject>

namespace chenglan::cli {
namespace {

const QString Usage = QStringLiteral("analyze --row N [--date Y-M-D | --beidan] | analyze --match-id ID"
                                     " [--png DIR] [site overrides] ") +
                      QLatin1String(kWebOptionsUsage);

int usageError(const QString &why) {
    printError(QStringLiteral("analyze: %1\nusage: chenglan-cli %2").arg(why, Usage));
    return 2;
}

int runAnalyze(QStringList args) {
    SiteBases bases;
    WebFactory makeWeb;
    if (!takeSiteOverrides(args, bases) || !takeWebOptions(args, makeWeb))
        return 2;
    const QString matchId = takeOption(args, QStringLiteral("--match-id"));
    const QString rowText = takeOption(args, QStringLiteral("--row"));
    const QString date = takeOption(args, QStringLiteral("--date"));
    const QString pngDir = takeOption(args, QStringLiteral("--png"));
    ScheduleRequest request;
    if (takeFlag(args, QStringLiteral("--beidan")))
        request.game = ScheduleRequest::Game::Beidan;
    if (!args.isEmpty())
        return usageError(QStringLiteral("unexpected \"%1\"").arg(args.first()));
    if (matchId.isNull() == rowText.isNull())
        return usageError(QStringLiteral("give either --row or --match-id"));
    if (!matchId.isNull() && matchId.isEmpty())
        return usageError(QStringLiteral("--match-id needs an id"));
    if (!matchId.isNull() && (!date.isNull() || request.game == ScheduleRequest::Game::Beidan))
        return usageError(QStringLiteral("--date and --beidan choose the schedule of --row"));
    if (!date.isNull() && request.game == ScheduleRequest::Game::Beidan)
        return usageError(QStringLiteral("--date and --beidan exclude each other"));
    if (!date.isNull()) {
        const auto day = scheduleDayText(date);
        if (!day)
            return usageError(QStringLiteral("--date needs a day as Y-M-D, not \"%1\"").arg(date));
        request.selectedDate = *day;
    }
    bool rowOk = false;
    const int row = rowText.toInt(&rowOk);
    if (!rowText.isNull() && (!rowOk || row < 1))
        return usageError(QStringLiteral("--row needs the number of a listed match (1 = the first), not \"%1\"")
                              .arg(rowText));
    if (!pngDir.isNull() && pngDir.isEmpty())
        return usageError(QStringLiteral("--png needs a folder"));

    const std::unique_ptr<Web> web = makeWeb();
    const std::unique_ptr<Web> second = makeWeb();
    const PageRenderer renderer;
    const AnalysisContext context{*web, bases, renderer, second.get(), {}};
    AnalysisState state;
    ChartPictures pictures = ChartPictures::make();
    GridData grid = newSimilarListGrid();
    try {
        ListClickRun run;
        QString schedule;
        if (!matchId.isNull()) {
            run = matchIdClick(state, Value(matchId), context, pictures, grid);
        } else {
            const ScheduleListing listing = listSchedule(request, *web, bases, renderer);
            if (row >= listing.grid.rows()) {
                printError(QStringLiteral("analyze: %1; there is no match %2 in the list")
                               .arg(listing.status).arg(row));
                return 1;
            }
            // The row key the list keeps in its hidden column, as a click reads it.
            const Value rowKey(listing.grid.text(row, MatchListKeyColumn));
            run = listClick(state, listing.state, rowKey, context, pictures, grid);
            schedule = listing.status;
        }
        QJsonObject json = listClickJson(state, run, pictures, grid);
        if (!schedule.isNull())
            json.insert(QStringLiteral("Schedule"), schedule);
        json.insert(QStringLiteral("failures"), failuresJson(run.analysis.log));
        json.insert(QStringLiteral("queryFailures"), failuresJson(run.queryLog));
        json.insert(QStringLiteral("drawing"), failuresJson(run.drawLog));
        printJson(json);
        if (!pngDir.isNull() && !writePictures(pictures, pngDir, QStringLiteral("analyze")))
            return 1;
        if (!run.analysis.ok)
            printError(run.analysis.status);
        return run.analysis.pageRead ? 0 : 1;
    } catch (const StepFailure &failure) {
        printError(failure.message());
        return 1;
    }
}

const CommandRegistration registration{
    {QStringLiteral("analyze"), Usage,
     QStringLiteral(
         "Runs a click on a row of the match list as the window does: loads the match's\n"
         "analysis page and the pages that extend both teams' histories, runs the\n"
         "strength model and the pattern codes, draws the strength panel and both trend\n"
         "charts and asks the data service for similar matches. Prints the values as\n"
         "JSON under their names, with SimilarQuery, SimilarMatches, SimilarGrid (the\n"
         "similar-match grid lines), the texts each picture drew with their positions\n"
         "(texts), the time each step took and the status sentences (Status for the\n"
         "analysis, SimilarStatus for the query).\n"
         "--row N clicks the N-th match of the list (1 = the first) of the day's Jingcai\n"
         "schedule, of --date Y-M-D, or of the Beidan issue with --beidan.\n"
         "--match-id ID analyses a match by its id; the list captions stay empty.\n"
         "--png DIR writes PIC_SR.png, PIC_TD0.png and PIC_TD1.png at the pictures'\n"
         "design sizes.\n"
         "Exits with 1 when the list or the match's page could not be read."),
     runAnalyze, true}};

} // namespace
} // namespace chenglan::cli
