// chenglan-cli analyze: the analysis of a list click, without a window.
#include "cli/Cli.h"
#include "cli/WebOptions.h"

#include "analysis/ListAnalysis.h"
#include "model/GridFormats.h"
#include "model/ScheduleListing.h"

#include <QDate>
#include <QJsonObject>
#include <QRegularExpression>

namespace chenglan::cli {
namespace {

const QString Usage = QStringLiteral("analyze --row N [--date Y-M-D | --beidan] | analyze --match-id ID"
                                     " [site overrides] ") +
                      QLatin1String(kWebOptionsUsage);

// "2022-10-09" and "2022-10-9" name the same day; the site is sent the form
// without leading zeros, as the calendar sends it.
std::optional<QString> dayText(const QString &text) {
    static const QRegularExpression form(QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (!day.isValid())
        return std::nullopt;
    return QStringLiteral("%1-%2-%3").arg(day.year()).arg(day.month()).arg(day.day());
}

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
    ScheduleRequest request;
    if (takeFlag(args, QStringLiteral("--beidan")))
        request.game = ScheduleRequest::Game::Beidan;
    if (!args.isEmpty())
        return usageError(QStringLiteral("unexpected \"%1\"").arg(args.first()));
    if (matchId.isNull() == rowText.isNull())
        return usageError(QStringLiteral("give either --row or --match-id"));
    if (!matchId.isNull() && (!date.isNull() || request.game == ScheduleRequest::Game::Beidan))
        return usageError(QStringLiteral("--date and --beidan choose the schedule of --row"));
    if (!date.isNull() && request.game == ScheduleRequest::Game::Beidan)
        return usageError(QStringLiteral("--date and --beidan exclude each other"));
    if (!date.isNull()) {
        const auto day = dayText(date);
        if (!day)
            return usageError(QStringLiteral("--date needs a day as Y-M-D, not \"%1\"").arg(date));
        request.selectedDate = *day;
    }
    bool rowOk = false;
    const int row = rowText.toInt(&rowOk);
    if (!rowText.isNull() && (!rowOk || row < 1))
        return usageError(QStringLiteral("--row needs the number of a listed match (1 = the first), not \"%1\"")
                              .arg(rowText));

    const std::unique_ptr<Web> web = makeWeb();
    const std::unique_ptr<Web> second = makeWeb();
    const PageRenderer renderer;
    const AnalysisContext context{*web, bases, renderer, second.get(), {}};
    AnalysisState state;
    try {
        AnalysisRun run;
        if (!matchId.isNull()) {
            run = analyzeMatchId(state, Value(matchId), context);
        } else {
            const ScheduleListing listing = listSchedule(request, *web, bases, renderer);
            if (row >= listing.grid.rows()) {
                printError(QStringLiteral("analyze: %1; there is no match %2 in the list")
                               .arg(listing.status).arg(row));
                return 1;
            }
            // The row key the list keeps in its hidden column, as a click reads it.
            const Value rowKey(listing.grid.text(row, MatchListKeyColumn));
            run = analyzeListRow(state, listing.state, rowKey, context);
        }
        printJson(analysisJson(state, run));
        if (!run.ok)
            printError(run.status);
        return run.pageRead ? 0 : 1;
    } catch (const StepFailure &failure) {
        printError(failure.message());
        return 1;
    }
}

const CommandRegistration registration{
    {QStringLiteral("analyze"), Usage,
     QStringLiteral("Analyses a match as a click on its row of the match list does: loads its\n"
                    "analysis page and the pages that extend both teams' histories, runs the\n"
                    "strength model and the pattern codes, and prints the resulting values as JSON\n"
                    "with the time each step took and the status sentence.\n"
                    "--row N analyses the N-th match of the list (1 = the first) of the day's\n"
                    "Jingcai schedule, of --date Y-M-D, or of the Beidan issue with --beidan.\n"
                    "--match-id ID analyses a match by its id; the list captions stay empty.\n"
                    "Exits with 1 when the list or the match's page could not be read."),
     runAnalyze}};

} // namespace
} // namespace chenglan::cli
