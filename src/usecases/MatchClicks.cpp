#include "usecases/MatchClicks.h"

#include "base/ValueJson.h"

#include <QJsonArray>

namespace chenglan {

namespace {

void report(const AnalysisContext &context, AnalysisStep step) {
    if (context.progress)
        context.progress(step);
}

// After the analysis: the pictures, then the similar-match query. Without a
// trend there is nothing to show or to ask about: a page that was not read
// leaves only the zeros of a failed model, and histories too short for a
// pair leave zeros as well. A verdict, chart axes or similar matches drawn
// from those zeros would be invented, so the pictures say why instead and
// the similar-match list is emptied.
void drawAndQuery(ListClickRun &run, AnalysisState &s, const AnalysisContext &context, ChartPictures &pictures,
                  GridData &similarGrid, const ChartsDrawn &chartsDrawn) {
    report(context, AnalysisStep::Draw);
    const bool drawable = run.analysis.pageRead && run.analysis.trendFitted;
    if (drawable)
        drawListMatchCharts(s, pictures, &run.drawLog);
    else
        drawNoTrend(pictures, run.analysis.status);
    if (chartsDrawn)
        chartsDrawn();

    run.status = run.analysis.status;
    if (!drawable) {
        s.similarQuery = Value();
        s.similarMatches = Table(SimilarMatchColumns, 0);
        fillSimilarList(s, similarGrid, &run.queryLog);
        run.query = {SimilarQueryResult::Outcome::Failed, 0,
                     run.analysis.pageRead ? QStringLiteral("没有实力趋势，未查询相似比赛")
                                           : QStringLiteral("没有比赛数据，未查询相似比赛，相似比赛列表已清空")};
    } else {
        report(context, AnalysisStep::QuerySimilar);
        run.query = querySimilarMatches(s, context.web, context.bases, similarGrid, &run.queryLog);
        run.queried = true;
    }
    run.status += QStringLiteral("；") + run.query.status;
}

} // namespace

ListClickRun listClick(AnalysisState &s, const ScheduleState &schedule, const Value &rowKey,
                       const AnalysisContext &context, ChartPictures &pictures, GridData &similarGrid,
                       const ChartsDrawn &chartsDrawn) {
    ListClickRun run;
    run.analysis = analyzeListRow(s, schedule, rowKey, context);
    drawAndQuery(run, s, context, pictures, similarGrid, chartsDrawn);
    return run;
}

ListClickRun matchIdClick(AnalysisState &s, const Value &matchId, const AnalysisContext &context,
                          ChartPictures &pictures, GridData &similarGrid, const ChartsDrawn &chartsDrawn) {
    ListClickRun run;
    run.analysis = analyzeMatchId(s, matchId, context);
    drawAndQuery(run, s, context, pictures, similarGrid, chartsDrawn);
    return run;
}

SimilarClickRun similarClick(AnalysisState &s, const Value &rowKey, const AnalysisContext &context,
                             ChartPictures &pictures) {
    SimilarClickRun run;
    run.analysis = analyzeSimilarRow(s, rowKey, context);
    if (run.analysis.rowFound) {
        report(context, AnalysisStep::Draw);
        if (run.analysis.pageRead && run.analysis.trendFitted)
            drawSimilarMatchCharts(s, pictures, &run.drawLog);
        else
            drawSimilarMatchNoTrend(s, pictures, run.analysis.status, &run.drawLog);
    }
    return run;
}

QJsonObject listClickJson(const AnalysisState &s, const ListClickRun &run, const ChartPictures &pictures,
                          const GridData &similarGrid) {
    QJsonObject json = analysisJson(s, run.analysis);
    json.insert(QStringLiteral("SimilarQuery"), toJson(s.similarQuery));
    json.insert(QStringLiteral("SimilarMatches"), toJson(s.similarMatches));
    json.insert(QStringLiteral("SimilarGrid"), QJsonArray::fromStringList(similarGrid.dataLines()));
    json.insert(QStringLiteral("SimilarStatus"), run.query.status);
    json.insert(QStringLiteral("texts"), QJsonObject{{QStringLiteral("PIC_SR"), drawnTextsJson(pictures.strengthPanel)},
                                                     {QStringLiteral("PIC_TD0"), drawnTextsJson(pictures.trendCharts[0])},
                                                     {QStringLiteral("PIC_TD1"), drawnTextsJson(pictures.trendCharts[1])}});
    return json;
}

QStringList listClickRunKeys() {
    return {QStringLiteral("StepTimes"), QStringLiteral("Status"), QStringLiteral("SimilarStatus")};
}

} // namespace chenglan
