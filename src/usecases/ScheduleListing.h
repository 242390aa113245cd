#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "model/GridData.h"
#include "html/PageRenderer.h"
#include "sites/ScheduleScraper.h"
#include "net/SiteBases.h"
#include "net/Web.h"

#include <QString>

namespace chenglan {

// Which schedule a command lists: Jingcai for a day (selectedDate, empty for
// the site's current day) or the current Beidan issue.
struct ScheduleRequest {
    enum class Game { Jingcai, Beidan };
    Game game = Game::Jingcai;
    QString selectedDate;

    // "今日竞彩赛程", "2022-10-9 竞彩赛程" or "北京单场赛程", for the status bar.
    QString title() const;
};

// A scrape and its listing: the schedule, the match-list grid fillMatchList built
// from it, and what the status bar says about it.
struct ScheduleListing {
    ScheduleState state;
    GridData grid;
    StepLog log;
    ScheduleOutcome outcome = ScheduleOutcome::NoMatch;
    QString status;
};

// scrapeJingcaiSchedule or scrapeBeidanSchedule, then fillMatchList into a freshly formatted matchList. Throws
// StepFailure(Cancelled) when the Web was aborted.
ScheduleListing listSchedule(const ScheduleRequest &request, Web &web, const SiteBases &sites,
                             const PageRenderer &renderer);

} // namespace chenglan
