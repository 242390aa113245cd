#pragma once

#include "World.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <optional>

namespace chenglan::sample {

// The lottery's match day runs from noon to noon: the Jingcai page of a date
// lists the matches kicking off from 12:00 that day to 11:59 the next.
Minutes matchDayStart(const QDate &day);

// The Jingcai schedule with Asian handicap odds for one match day (UTF-8).
QByteArray jingcaiPage(const World &world, const QDate &day, Minutes now);

// A Beidan issue: the matches kicking off in [from, to). Issues open on
// Monday and Thursday at noon; their number is the year and month of the
// opening day and the issue's place in that month ("221003").
struct BeidanIssue {
    QString number;
    Minutes from = 0;
    Minutes to = 0;
};
BeidanIssue beidanIssueAt(Minutes when);
std::optional<BeidanIssue> beidanIssueNumbered(const QString &number);

// The Beidan schedule of one issue (UTF-8); `now` decides which results are out.
QByteArray beidanPage(const World &world, const BeidanIssue &issue, Minutes now);

} // namespace chenglan::sample
