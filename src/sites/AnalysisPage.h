#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "html/PageRenderer.h"
#include "net/SiteBases.h"
#include "net/Web.h"

#include <QString>

namespace chenglan {

// Time spent on analysis pages, summed over the pages of a run.
struct PageTimes {
    qint64 fetchNs = 0;
    qint64 renderNs = 0;
};

// Loads the analysis page of currentMatchId and fills analysisData with its
// four sections: the home side's history records, the away side's, the
// page's third list (each record followed by "|") and the info line (home
// team id, away team id, home team name, away team name, kick-off, joined by
// ","). The page's own script defines these as script variables only; the
// script is cut out of the body markup, run again with dump statements
// appended, and the rendered text is split at "$". A failed fetch leaves the
// four elements empty.
void loadAnalysisPage(AnalysisState &s, Web &web, const SiteBases &bases, const PageRenderer &renderer,
          StepLog *log = nullptr);

// The parts of loadAnalysisPage, for running page loads side by side and for tests.
namespace analysispage {

// AnalysisSiteBase + "analysis/" + id + "cn.htm".
QString url(const SiteBases &bases, const Value &matchId);

// The page's script code: the body markup from "function show_info(URL)"
// (failing that, from "var lang = 0"; failing both, from the start) up to the
// first "</SCRIPT>" (upper case only; when absent, to the end), outer blanks
// trimmed.
QString scriptCode(const QString &bodyMarkup);

// The local page that runs the script code and writes the four sections.
QString dumpPage(const QString &scriptCode);

// A fresh four-element analysisData from the rendered text: parts 0..3 of the
// text split at "$"; missing parts stay empty, further parts are ignored.
ValueArray sections(const QString &renderedText);

// Fetches and extracts the page of one match id; what loadAnalysisPage stores.
ValueArray load(Web &web, const SiteBases &bases, const PageRenderer &renderer, const Value &matchId,
                StepLog *log = nullptr, PageTimes *times = nullptr);

// Logs (Layout) that the page of the analysed match came but gave neither
// side a history record. Not for the pages that extend a history: the
// oldest match of a team rightly lists nothing before it.
void noteMissingHistory(const ValueArray &data, const Value &matchId, StepLog *log);

} // namespace analysispage

} // namespace chenglan
