#pragma once

#include <QString>

namespace chenglan {

// The steps of a click, as a run reports them before each runs. A step is
// named in one place: its label (step times, the command line's JSON) and
// the phrase the window's status bar shows come from the tables behind
// stepLabel and stepPhrase, so neither depends on the other.
enum class AnalysisStep {
    LoadPage,            // the match's analysis page
    ReadInfo,            // teams and kick-off from the page's info line
    ParseHistories,      // both teams' histories
    LoadExtensions,      // both extension pages side by side
    LoadHomeExtension,   // the page that extends the home team's history
    LoadAwayExtension,   // the page that extends the away team's history
    ExtendHome,
    ExtendAway,
    ComputeTrends,       // the strength model
    PatternCodes,
    Caption,
    Draw,                // the pictures
    QuerySimilar,        // the data service's similar matches
    ListHandicap,        // the list match's handicap changes
    SimilarHandicap,     // the historic match's handicap changes
    SimilarHandicapAgain,
};

// The step's technical label, as step times name it.
QString stepLabel(AnalysisStep step);
// What the step does, in Chinese, for the status bar ("读取分析页面").
QString stepPhrase(AnalysisStep step);

} // namespace chenglan
