#include "usecases/AnalysisSteps.h"

namespace chenglan {

namespace {

struct StepNames {
    AnalysisStep step;
    const char *label;
    const char16_t *phrase;
};

// The one table of step names.
constexpr StepNames Names[] = {
    {AnalysisStep::LoadPage, "loadAnalysisPage", u"读取分析页面"},
    {AnalysisStep::ReadInfo, "info", u"读取比赛信息"},
    {AnalysisStep::ParseHistories, "parseTeamHistories", u"解析两队历史"},
    {AnalysisStep::LoadExtensions, "loadAnalysisPage extensions", u"读取两队更早的历史"},
    {AnalysisStep::LoadHomeExtension, "loadAnalysisPage home", u"读取主队更早的历史"},
    {AnalysisStep::LoadAwayExtension, "loadAnalysisPage away", u"读取客队更早的历史"},
    {AnalysisStep::ExtendHome, "extendHomeHistory", u"扩展主队历史"},
    {AnalysisStep::ExtendAway, "extendAwayHistory", u"扩展客队历史"},
    {AnalysisStep::ComputeTrends, "computeStrengthTrends", u"计算实力趋势"},
    {AnalysisStep::PatternCodes, "patternCodes", u"推算走势代码"},
    {AnalysisStep::Caption, "caption", u"写标题"},
    {AnalysisStep::Draw, "drawCharts", u"绘图"},
    {AnalysisStep::QuerySimilar, "querySimilarMatches", u"查询相似比赛"},
    {AnalysisStep::ListHandicap, "scrapeHandicapChanges list", u"读取本场的盘口变化"},
    {AnalysisStep::SimilarHandicap, "scrapeHandicapChanges", u"读取历史比赛的盘口变化"},
    {AnalysisStep::SimilarHandicapAgain, "scrapeHandicapChanges again", u"再次读取历史比赛的盘口变化"},
};

const StepNames &namesOf(AnalysisStep step) {
    for (const StepNames &n : Names)
        if (n.step == step)
            return n;
    return Names[0];
}

} // namespace

QString stepLabel(AnalysisStep step) { return QString::fromLatin1(namesOf(step).label); }

QString stepPhrase(AnalysisStep step) { return QString::fromUtf16(namesOf(step).phrase); }

} // namespace chenglan
