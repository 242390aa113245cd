#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "html/PageRenderer.h"
#include "net/SiteBases.h"
#include "net/Web.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace chenglan {

// One change of the bookmaker's handicap line.
struct HandicapChange {
    Value homeOdds;    // number
    Value handicap;    // text, "受让" written "受"
    Value awayOdds;    // number
    Value changeTime;  // date; empty when the time could not be read

    friend bool operator==(const HandicapChange &, const HandicapChange &) = default;
};

// The change-detail page of a match: OddsDetailSiteBase +
// "changeDetail/handicap.aspx?id=" + id + "&companyID=3". Characters of the
// id other than letters, digits and "-._~" are percent-encoded.
QString handicapDetailUrl(const QString &detailBase, const Value &matchId);

// Completes a change time: converts changeTime to a date in place and
// returns it, or the date one year earlier when the change falls in November
// or December and the match in January to September (the change then belongs
// to the year before the match). Throws StepFailure when changeTime or
// matchDate is not a date.
QDateTime AdjustChangeYear(Value &changeTime, const Value &matchDate);

// The change table of a page: from the first <span id="odds2" (the page in
// lower case) up to the first </table>, trimmed, with "," written after every
// cell. Empty when the page has no such span.
QString handicapChangeMarkup(const QString &page);

// The changes of the table's visible text, oldest first (the page lists them
// newest first): lines split at carriage returns, the header line skipped,
// "受让" written "受"; a line is kept when its home odds (field 2) are above 0
// and its field 1 is longer than one character. The change time (field 5,
// month-day hour:minute) gets the year of matchDate through AdjustChangeYear.
QList<HandicapChange> handicapChanges(const QString &visibleText, const Value &matchDate,
                                      StepLog *log = nullptr);

// Fetches the change detail of currentMatchId (decoded as gb2312), reads
// its changes with matchDate and stores the earliest and the latest in
// handicapSummary for match listHandicapLoaded (0 or 1; any other value
// stores nothing). Without a kept change the eight items of that match are
// emptied and the log says why. Returns the number of kept changes.
int scrapeHandicapChanges(AnalysisState &s, Web &web, const SiteBases &bases, const PageRenderer &renderer,
         StepLog *log = nullptr);

// The same for a given match index of handicapSummary.
int scrapeHandicapChanges(AnalysisState &s, int matchIndex, Web &web, const SiteBases &bases, const PageRenderer &renderer,
         StepLog *log = nullptr);

// What the "实力趋势" command came to, for the status bar.
struct HandicapRun {
    int changes = 0;        // kept changes
    bool pageRead = false;  // the page was fetched and had its change table
    QString status;
};

// The "实力趋势" command: the change detail of the match chosen in the list
// (currentMatchId = listMatchId, matchDate = listMatchTime), stored as match
// 0 of handicapSummary, the list match's place, whichever match was opened
// from the similar-match grid since.
HandicapRun listMatchHandicapDetail(AnalysisState &s, Web &web, const SiteBases &bases,
                                    const PageRenderer &renderer, StepLog *log = nullptr);

} // namespace chenglan
