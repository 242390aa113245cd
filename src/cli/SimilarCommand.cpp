// chenglan-cli similar: a list click and then a click on one of its similar
// matches, as the window runs them, with the pictures as PNG.
#include "cli/Cli.h"
#include "cli/WebOptions.h"

#include "base/ValueJson.h"
#include "model/GridFormats.h"
#include "usecases/MatchClicks.h"
#include "usecases/ScheduleListing.h"

#include <QJsonArray>
#include <QJsonObject>

namespace chenglan::cli {
namespace {

bool rowNumber(const QString &text, const QString &option) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 0) {
        printError(QStringLiteral("similar: %1 needs a row number, not \"%2\"").arg(option, text));
        return false;
    }
    return true;
}

int runSimilar(QStringList args) {
    SiteBases sites;
    WebFactory makeWeb;
    if (!takeSiteOverrides(args, sites) || !takeWebOptions(args, makeWeb))
        return 2;
    const QString row = takeOption(args, QStringLiteral("--row"));
    const QString similarRow = takeOption(args, QStringLiteral("--similar-row"));
    const QString date = takeOption(args, QStringLiteral("--date"));
    const QString pngDir = takeOption(args, QStringLiteral("--png"));
    if (!args.isEmpty()) {
        printError(QStringLiteral("similar: unexpected \"%1\"").arg(args.first()));
        return 2;
    }
    if (!rowNumber(row, QStringLiteral("--row")) || !rowNumber(similarRow, QStringLiteral("--similar-row")))
        return 2;
    if (!pngDir.isNull() && pngDir.isEmpty()) {
        printError(QStringLiteral("similar: --png needs a folder"));
        return 2;
    }
    ScheduleRequest request;
    if (!date.isNull()) {
        const auto day = scheduleDayText(date);
        if (!day) {
            printError(QStringLiteral("similar: --date needs a day as Y-M-D, not \"%1\"").arg(date));
            return 2;
        }
        request.selectedDate = *day;
    }

    const std::unique_ptr<Web> web = makeWeb();
    const std::unique_ptr<Web> second = makeWeb();
    const PageRenderer renderer;
    const AnalysisContext context{*web, sites, renderer, second.get(), {}};
    try {
        const ScheduleListing listing = listSchedule(request, *web, sites, renderer);
        AnalysisState state;
        ChartPictures pictures = ChartPictures::make();
        GridData grid = newSimilarListGrid();
        const ListClickRun list = listClick(state, listing.state, Value(row), context, pictures, grid);
        const SimilarClickRun similar = similarClick(state, Value(similarRow), context, pictures);
        const SimilarRun &similarRun = similar.analysis;
        StepLog drawLog = list.drawLog;
        drawLog.entries.append(similar.drawLog.entries);

        printJson(QJsonObject{
            {QStringLiteral("schedule"), listing.status},
            {QStringLiteral("list"), QJsonObject{{QStringLiteral("ListMatchId"), toJson(state.listMatchId)},
                                                 {QStringLiteral("ListMatchCaption"), toJson(state.listMatchCaption)},
                                                 {QStringLiteral("StrengthSummary"), toJson(state.profile.strengths)},
                                                 {QStringLiteral("status"), list.analysis.status},
                                                 {QStringLiteral("failures"), failuresJson(list.analysis.log)}}},
            {QStringLiteral("query"), QJsonObject{{QStringLiteral("SimilarQuery"), toJson(state.similarQuery)},
                                                  {QStringLiteral("SimilarMatches"), toJson(state.similarMatches)},
                                                  {QStringLiteral("grid"), QJsonArray::fromStringList(grid.dataLines())},
                                                  {QStringLiteral("status"), list.query.status},
                                                  {QStringLiteral("summary"), summarizeSimilarSet(state).text()},
                                                  {QStringLiteral("failures"), failuresJson(list.queryLog)}}},
            {QStringLiteral("SimilarRowKey"), toJson(state.similarRowKey)},
            {QStringLiteral("CurrentMatchId"), toJson(state.currentMatchId)},
            {QStringLiteral("MatchDate"), toJson(state.matchDate)},
            {QStringLiteral("HandicapSummary"), toJson(state.handicapSummary)},
            {QStringLiteral("SimilarMatchCaption"), toJson(state.similarMatchCaption)},
            {QStringLiteral("TrendSeries"), toJson(state.trendSeries)},
            {QStringLiteral("texts"), QJsonObject{{QStringLiteral("PIC_SR"), drawnTextsJson(pictures.strengthPanel)},
                                                  {QStringLiteral("PIC_TD0"), drawnTextsJson(pictures.trendCharts[0])},
                                                  {QStringLiteral("PIC_TD1"), drawnTextsJson(pictures.trendCharts[1])}}},
            {QStringLiteral("status"), similarRun.status},
            {QStringLiteral("failures"), failuresJson(similarRun.log)},
            {QStringLiteral("drawing"), failuresJson(drawLog)},
        });
        if (!pngDir.isNull() && !writePictures(pictures, pngDir, QStringLiteral("similar")))
            return 1;
        if (!similarRun.ok)
            printError(similarRun.status);
        return similarRun.pageRead ? 0 : 1;
    } catch (const StepFailure &failure) {
        printError(failure.message());
        return 1;
    }
}

const CommandRegistration registration{
    {QStringLiteral("similar"),
     QStringLiteral("similar --row N --similar-row K [--date Y-M-D] [--png DIR] [site overrides] ")
         + QLatin1String(kWebOptionsUsage),
     QStringLiteral("Lists the Jingcai schedule of the day (--date, else the site's current day),\n"
                    "analyses the match of MatchTable row N as a click on its list row does, asks\n"
                    "the data service for similar matches, then analyses similar match K (the\n"
                    "SimilarMatches row) as a click on its grid line does. Prints the query, the\n"
                    "answer and its grid lines, HandicapSummary, SimilarMatchCaption, TrendSeries\n"
                    "and the texts drawn as JSON; --png DIR writes PIC_SR.png, PIC_TD0.png and\n"
                    "PIC_TD1.png. Exits with 1 when the similar match's page could not be read."),
     runSimilar, true}};

} // namespace
} // namespace chenglan::cli
