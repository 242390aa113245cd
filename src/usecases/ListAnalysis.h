#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "usecases/AnalysisSteps.h"
#include "sites/AnalysisPage.h"
#include "html/PageRenderer.h"
#include "net/SiteBases.h"
#include "net/Web.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>

namespace chenglan {

// What an analysis run needs besides the state. The job that runs it owns
// the Web instances and aborts them to cancel; a cancelled run ends with a
// StepFailure of kind Cancelled and its state must not be used.
struct AnalysisContext {
    Web &web;
    const SiteBases &bases;
    const PageRenderer &renderer;
    // When given, the two extension pages are fetched and rendered side by
    // side, this one on a second thread: it must be usable from any thread.
    // The resulting state is the same as with the pages loaded one by one.
    Web *secondWeb = nullptr;
    // Called with each step before it runs.
    std::function<void(AnalysisStep step)> progress{};
};

// How a run went: the failures of its skipped statements, the time of each
// step and one sentence for the status bar.
struct AnalysisRun {
    struct StepTime {
        QString step;
        qint64 ns = 0;
    };
    StepLog log;
    QList<StepTime> steps;
    PageTimes pages;      // fetching and rendering of the three pages, summed
    qint64 modelNs = 0;   // parsing, extension, strength model and pattern codes
    bool pageRead = false; // the analysed match's page was read and had its info line
    bool hasTrend = false;
    bool trendFitted = false; // enough pairs for the fit: a trend to show and to ask about
    bool ok = false;       // the page was read and a trend was formed
    QString status;
};

// The analysis of a click on a match-list row: rowKey is the matchTable row
// number the row was built from. Sets the list match's ids, resets the
// summaries, loads the match's page, reads the teams and the kick-off, parses
// and extends both histories, runs the strength model and the pattern codes
// and sets listMatchCaption and chartCaption from the schedule row. Values of
// the previous analysis never survive a step that fails.
AnalysisRun analyzeListRow(AnalysisState &s, const ScheduleState &schedule, const Value &rowKey,
                           const AnalysisContext &context);

// The same analysis for a match id that is not in the list (the command
// line, the data service's import): the row key and the captions stay empty.
AnalysisRun analyzeMatchId(AnalysisState &s, const Value &matchId, const AnalysisContext &context);

// The state after an analysis as JSON, each value under its own name with a
// capital first letter (listMatchId as ListMatchId), with the
// time each step took (milliseconds) and the status sentence: what the
// command line prints and what tests compare.
QJsonObject analysisJson(const AnalysisState &s, const AnalysisRun &run);

} // namespace chenglan
