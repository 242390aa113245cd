#pragma once

#include "base/Table.h"
#include "base/Value.h"

#include <QDateTime>

#include <chrono>

namespace chenglan {

// When the pages of a match stop changing, as the client judges it from what
// it knows (the schedule row, the kick-off a page gave), never from the
// sites' headers. A page judged final is kept by the page cache for good, so
// every doubt counts as "still changing".

// The sites write kick-off times in their own local time, UTC+8.
inline constexpr int kSiteUtcOffsetSeconds = 8 * 3600;
// A match is over this long after its kick-off (extra time and a late start
// included).
inline constexpr std::chrono::hours kMatchLasts{4};
// An analysis page still gets the match's result and its late corrections for
// a day after the match.
inline constexpr std::chrono::hours kAnalysisSettles{24};

// A kick-off of the sites' clock (a date value, or a date text such as
// "2026-01-27 04:00") as an instant; invalid when it is neither.
QDateTime siteKickOff(const Value &kickOff);

// The match has finished: its change-detail (handicap) page is final.
bool matchFinished(const Value &kickOff, const QDateTime &now = QDateTime::currentDateTimeUtc());

// The match has been finished for a day: its analysis page is final.
bool analysisPageSettled(const Value &kickOff, const QDateTime &now = QDateTime::currentDateTimeUtc());

// The analysis page of a listed match (a schedule row: kick-off "MM-DD HH:mm"
// in matchtable::KickOffField, the score or "vs" in matchtable::ScoreField) is final when the row shows a
// score and the latest such kick-off before now lies a day past the match.
// The row has no year; a played match lies in the past, so the latest past
// date is the only one that can be meant (an older one is more settled yet).
bool listedAnalysisPageSettled(const Table &matchTable, int row,
                               const QDateTime &now = QDateTime::currentDateTimeUtc());

} // namespace chenglan
