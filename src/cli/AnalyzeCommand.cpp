// chenglan-cli analyze: the analysis of a list click, without a window.
#include "cli/Cli.h"

#include "analysis/ListAnalysis.h"
#include "cli/WebOptions.h"

#include <QJsonObject>

namespace chenglan::cli {
namespace {

int runAnalyze(QStringList args) {
    SiteBases bases;
    WebFactory makeWeb;
    if (!takeSiteOverrides(args, bases) || !takeWebOptions(args, makeWeb))
        return 2;
    const QString matchId = takeOption(args, QStringLiteral("--match-id"));
    if (matchId.isNull() || !args.isEmpty()) {
        printError(QStringLiteral("usage: chenglan-cli analyze --match-id ID [site overrides] %1")
                       .arg(QLatin1String(kWebOptionsUsage)));
        return 2;
    }

    const std::unique_ptr<Web> web = makeWeb();
    const std::unique_ptr<Web> second = makeWeb();
    const PageRenderer renderer;
    const AnalysisContext context{*web, bases, renderer, second.get(), {}};
    AnalysisState state;
    try {
        const AnalysisRun run = analyzeMatchId(state, Value(matchId), context);
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
    {QStringLiteral("analyze"), QStringLiteral("analyze --match-id ID [site overrides] [--record DIR | --replay DIR]"),
     QStringLiteral("Analyses a match as a click on its list row does: loads its analysis page and\n"
                    "the pages that extend both teams' histories, runs the strength model and the\n"
                    "pattern codes, and prints the resulting values as JSON with the time each step\n"
                    "took. --match-id ID analyses a match by its id; the list captions stay empty.\n"
                    "Exits with 1 when the match's page could not be read."),
     runAnalyze}};

} // namespace
} // namespace chenglan::cli
