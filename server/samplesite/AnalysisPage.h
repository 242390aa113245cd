#pragma once

#include "World.h"

#include <QByteArray>
#include <QString>

namespace chenglan::sample {

// Limits of the lists an analysis page carries.
constexpr int kHistoryLength = 40;
constexpr int kMeetingsLength = 10;

// One past match as the analysis page's script lists it, seen from `team`
// (whose result code field 12 carries), fields joined by ",":
//  0 date (yy-MM-dd), 1 league colour, 2 league short name, 3 league id,
//  4 home team id, 5 home team, 6 away team id, 7 away team, 8 home goals,
//  9 away goals, 10 half-time score, 11 closing handicap line (goals the home
//  side gives), 12 result code 1/0/-1, 13 handicap result of `team`,
//  14 total goals against 2.5 ("大"/"小"), 15 match id, 16 round.
// Matches from 2022 on add 17 home rank, 18 away rank, 19 and 20 half-time
// goals, 21 handicap text; the few with statistics add 22..33 (MatchStats).
QStringList historyRecord(const World &world, const Match &match, int team);

// The analysis page of a match (gb2312), its lists as of `now`.
QByteArray analysisPage(const World &world, const Match &match, Minutes now);

} // namespace chenglan::sample
