#pragma once

#include "base/AnalysisState.h"
#include "usecases/ListAnalysis.h"
#include "usecases/SimilarAnalysis.h"
#include "base/Step.h"
#include "charts/ChartPictures.h"
#include "model/GridData.h"
#include "usecases/SimilarMatches.h"

#include <QJsonObject>
#include <QString>

#include <functional>

namespace chenglan {

// The two clicks of the main window as whole runs, shared by the window's
// jobs and the command line so that both come to the same state, pictures
// and grid lines. The window adds the highlight and the job around them.
//
// One way to fail per boundary. Inside a step, a statement that fails throws
// StepFailure and attempt() skips it: the pages' results rely on exactly
// that. At the use-case boundary (listSchedule, listClick, similarClick,
// listMatchHandicapDetail, SelectServerSlot, the doctor) a run returns a
// result value instead: what it computed, the StepLog of every failure (the
// technical detail, in English, for the status's tooltip, the log and the
// command line's "failures") and one sentence in Chinese for the status bar,
// which names what failed in the bettor's words and never carries the
// detail, a step's label or a time. The only StepFailure that crosses the
// boundary is Cancelled: a cancelled run has no result to return.

// How a click on a match-list row went.
struct ListClickRun {
    AnalysisRun analysis;
    SimilarQueryResult query;
    bool queried = false; // the data service was asked (not when the match's page could not be read)
    StepLog drawLog;
    StepLog queryLog;
    QString status;       // for the status bar: the analysis sentence, then the similar-match sentence
};

// Called once the three pictures are drawn, before the similar-match query.
using ChartsDrawn = std::function<void()>;

// A click on list row rowKey (the matchTable row): the analysis of the
// match, the strength panel and both trend charts drawn into pictures, then
// the similar-match query (querySimilarMatches) listed into similarGrid (one made by
// newSimilarListGrid). When the match's own page could not be read there is
// no profile to ask about: the similar-match list is emptied instead and the
// status says why. Cancellation ends the run with StepFailure(Cancelled).
ListClickRun listClick(AnalysisState &s, const ScheduleState &schedule, const Value &rowKey,
                       const AnalysisContext &context, ChartPictures &pictures, GridData &similarGrid,
                       const ChartsDrawn &chartsDrawn = {});

// The same for a match that is not in the list: the captions stay empty.
ListClickRun matchIdClick(AnalysisState &s, const Value &matchId, const AnalysisContext &context,
                          ChartPictures &pictures, GridData &similarGrid, const ChartsDrawn &chartsDrawn = {});

// How a click on a similar-match grid line went.
struct SimilarClickRun {
    SimilarRun analysis;
    StepLog drawLog;
};

// A click on the similar-match line whose row key (grid column 12) is
// rowKey: the historic match's analysis and handicap details, then the
// handicap comparison below the strength panel and that match's trend on
// the lower trend picture. A row key that names no match draws nothing.
SimilarClickRun similarClick(AnalysisState &s, const Value &rowKey, const AnalysisContext &context,
                             ChartPictures &pictures);

// The state after a list click as the command line prints it: the values of
// analysisJson (its Status is the analysis sentence), SimilarQuery,
// SimilarMatches, the similar-match grid lines (SimilarGrid), the query's
// sentence (SimilarStatus) and the texts each picture drew with their
// positions (texts: PIC_SR, PIC_TD0, PIC_TD1).
QJsonObject listClickJson(const AnalysisState &s, const ListClickRun &run, const ChartPictures &pictures,
                          const GridData &similarGrid);

// The keys of listClickJson that describe the run rather than the state:
// step times and sentences.
QStringList listClickRunKeys();

} // namespace chenglan
