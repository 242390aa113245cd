#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "html/PageRenderer.h"
#include "net/SiteBases.h"
#include "net/Web.h"

#include <QString>

namespace chenglan {

// The two schedule pages of the odds site, relative to its base address.
QString jingcaiScheduleUrl(const SiteBases &sites, const QString &selectedDate);
QString beidanScheduleUrl(const SiteBases &sites);

// The local page scrapeJingcaiSchedule and scrapeBeidanSchedule hand the renderer, made from the fetched
// schedule page: lower-cased, cut to its match table and marked ("," after
// every cell, "‖" before every row end, the handicap link's id and the
// league colour made visible), behind the charset line and an opening <table>.
QString jingcaiTablePage(const QString &html);
QString beidanTablePage(const QString &html);

// Jingcai schedule of one day (selectedDate as "2022-10-9", empty for the
// site's current day) into matchTable (fields 0..20, a row per match) and
// matchRowFlags. Every statement runs under attempt(): a failing one is
// skipped and recorded in the log. A page that yields no row at all (failed
// fetch, error page, changed layout, a day without matches) leaves both empty,
// never the previous day's schedule. Throws StepFailure(Cancelled) when the
// Web was aborted.
void scrapeJingcaiSchedule(ScheduleState &s, const QString &selectedDate, Web &web, const SiteBases &sites,
          const PageRenderer &renderer, StepLog *log = nullptr);

// The current Beidan issue, the same way; field 4 carries the handicap suffix.
void scrapeBeidanSchedule(ScheduleState &s, Web &web, const SiteBases &sites, const PageRenderer &renderer,
          StepLog *log = nullptr);

// What a schedule scrape came to, judged from the state it left and the
// failures it recorded.
enum class ScheduleOutcome {
    Listed,        // at least one match is listed
    NoMatch,       // the page was read and really lists no match
    NetworkFailed, // the odds site could not be reached
    SiteError,     // the site answered with an error page
    LayoutChanged, // the page came, but not in the layout we read
};

// Rows whose flag is 1: the matches the list shows.
int listedMatchCount(const ScheduleState &s);
ScheduleOutcome scheduleOutcome(const ScheduleState &s, const StepLog &log);

// The sentence for the status bar, naming the listing (e.g. "2022-10-9 竞彩"
// or "北京单场") in what: how many matches, or what went wrong, with the first
// failure of that kind in parentheses. Further details stay in the log.
QString scheduleStatusText(const QString &what, const ScheduleState &s, const StepLog &log);

} // namespace chenglan
