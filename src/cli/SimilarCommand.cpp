// chenglan-cli similar: a list click and then a click on one of its similar
// matches, as the window runs them, with the pictures as PNG.
#include "cli/Cli.h"
#include "cli/WebOptions.h"

#include "analysis/ListAnalysis.h"
#include "analysis/SimilarAnalysis.h"
#include "analysis/ValueJson.h"
#include "charts/ChartPictures.h"
#include "model/GridFormats.h"
#include "model/ScheduleListing.h"
#include "model/SimilarMatches.h"

#include <QDate>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

namespace chenglan::cli {
namespace {

QString kindName(FailureKind kind) {
    switch (kind) {
    case FailureKind::Data:
        return QStringLiteral("data");
    case FailureKind::Network:
        return QStringLiteral("network");
    case FailureKind::SiteError:
        return QStringLiteral("site-error");
    case FailureKind::Layout:
        return QStringLiteral("layout");
    case FailureKind::Cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}

QJsonArray failuresJson(const StepLog &log) {
    QJsonArray failures;
    for (const StepLog::Entry &e : log.entries)
        failures.append(QJsonObject{{QStringLiteral("kind"), kindName(e.kind)}, {QStringLiteral("message"), e.message}});
    return failures;
}

// "2022-10-09" or "2022-10-9" as the site is sent it, "2022-10-9".
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

bool rowNumber(const QString &text, const QString &option) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 0) {
        printError(QStringLiteral("similar: %1 needs a row number, not \"%2\"").arg(option, text));
        return false;
    }
    return true;
}

bool writePictures(const ChartPictures &pictures, const QString &dir) {
    if (!QDir().mkpath(dir)) {
        printError(QStringLiteral("similar: cannot make the folder \"%1\"").arg(dir));
        return false;
    }
    const QDir out(dir);
    const bool ok = pictures.PIC_SR.image().save(out.filePath(QStringLiteral("PIC_SR.png")))
                    && pictures.PIC_TD[0].image().save(out.filePath(QStringLiteral("PIC_TD0.png")))
                    && pictures.PIC_TD[1].image().save(out.filePath(QStringLiteral("PIC_TD1.png")));
    if (!ok)
        printError(QStringLiteral("similar: cannot write the pictures into \"%1\"").arg(dir));
    return ok;
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
        const auto day = dayText(date);
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
        const AnalysisRun listRun = analyzeListRow(state, listing.state, Value(row), context);
        ChartPictures pictures = ChartPictures::make();
        StepLog drawLog;
        drawListMatchCharts(state, pictures, &drawLog);
        GridData grid = newSimilarListGrid();
        StepLog queryLog;
        const SimilarQueryResult query = AITJ(state, *web, sites, grid, &queryLog);
        const SimilarRun similarRun = analyzeSimilarRow(state, Value(similarRow), context);
        if (similarRun.rowFound)
            drawSimilarMatchCharts(state, pictures, &drawLog);

        printJson(QJsonObject{
            {QStringLiteral("schedule"), listing.status},
            {QStringLiteral("list"), QJsonObject{{QStringLiteral("ListMatchId"), toJson(state.ListMatchId)},
                                                 {QStringLiteral("ListMatchCaption"), toJson(state.ListMatchCaption)},
                                                 {QStringLiteral("StrengthSummary"), toJson(state.StrengthSummary)},
                                                 {QStringLiteral("status"), listRun.status},
                                                 {QStringLiteral("failures"), failuresJson(listRun.log)}}},
            {QStringLiteral("query"), QJsonObject{{QStringLiteral("SimilarQuery"), toJson(state.SimilarQuery)},
                                                  {QStringLiteral("SimilarMatches"), toJson(state.SimilarMatches)},
                                                  {QStringLiteral("grid"), QJsonArray::fromStringList(grid.dataLines())},
                                                  {QStringLiteral("status"), query.status},
                                                  {QStringLiteral("summary"), summarizeSimilarSet(state).text()},
                                                  {QStringLiteral("failures"), failuresJson(queryLog)}}},
            {QStringLiteral("SimilarRowKey"), toJson(state.SimilarRowKey)},
            {QStringLiteral("CurrentMatchId"), toJson(state.CurrentMatchId)},
            {QStringLiteral("MatchDate"), toJson(state.MatchDate)},
            {QStringLiteral("HandicapSummary"), toJson(state.HandicapSummary)},
            {QStringLiteral("SimilarMatchCaption"), toJson(state.SimilarMatchCaption)},
            {QStringLiteral("TrendSeries"), toJson(state.TrendSeries)},
            {QStringLiteral("texts"), QJsonObject{{QStringLiteral("PIC_SR"), drawnTextsJson(pictures.PIC_SR)},
                                                  {QStringLiteral("PIC_TD0"), drawnTextsJson(pictures.PIC_TD[0])},
                                                  {QStringLiteral("PIC_TD1"), drawnTextsJson(pictures.PIC_TD[1])}}},
            {QStringLiteral("status"), similarRun.status},
            {QStringLiteral("failures"), failuresJson(similarRun.log)},
            {QStringLiteral("drawing"), failuresJson(drawLog)},
        });
        if (!pngDir.isNull() && !writePictures(pictures, pngDir))
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
