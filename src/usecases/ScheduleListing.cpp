#include "usecases/ScheduleListing.h"

#include <QDate>

#include "model/GridFormats.h"
#include "model/MatchListGrid.h"

namespace chenglan {

QString ScheduleRequest::title() const {
    if (game == Game::Beidan)
        return QStringLiteral("北京单场赛程");
    if (selectedDate.isEmpty())
        return QStringLiteral("今日竞彩赛程");
    // The day in the window's one date form, with leading zeros; the page
    // itself is asked without them.
    const QDate day = QDate::fromString(selectedDate, QStringLiteral("yyyy-M-d"));
    return QStringLiteral("%1 竞彩赛程").arg(day.isValid() ? day.toString(QStringLiteral("yyyy-MM-dd")) : selectedDate);
}

ScheduleListing listSchedule(const ScheduleRequest &request, Web &web, const SiteBases &sites,
                             const PageRenderer &renderer) {
    ScheduleListing listing;
    if (request.game == ScheduleRequest::Game::Beidan)
        scrapeBeidanSchedule(listing.state, web, sites, renderer, &listing.log);
    else
        scrapeJingcaiSchedule(listing.state, request.selectedDate, web, sites, renderer, &listing.log);
    listing.grid = newMatchListGrid();
    fillMatchList(listing.grid, listing.state, &listing.log);
    listing.outcome = scheduleOutcome(listing.state, listing.log);
    listing.status = scheduleStatusText(request.title(), listing.state, listing.log);
    return listing;
}

} // namespace chenglan
