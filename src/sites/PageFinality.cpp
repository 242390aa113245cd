#include "sites/PageFinality.h"

#include "base/Columns.h"
#include "base/TextRules.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace chenglan {

namespace {

QDateTime onSiteClock(const QDateTime &wallTime) {
    if (!wallTime.isValid())
        return {};
    return QDateTime(wallTime.date(), wallTime.time(), QTimeZone(kSiteUtcOffsetSeconds));
}

bool pastBy(const QDateTime &kickOff, std::chrono::hours by, const QDateTime &now) {
    return kickOff.isValid() && now.isValid()
           && kickOff.addSecs(std::chrono::duration_cast<std::chrono::seconds>(by).count()) < now;
}

} // namespace

QDateTime siteKickOff(const Value &kickOff) {
    if (const QDateTime *when = kickOff.asDate())
        return onSiteClock(*when);
    const auto parsed = text::parseDateTime(kickOff.text().trimmed());
    return parsed ? onSiteClock(*parsed) : QDateTime();
}

bool matchFinished(const Value &kickOff, const QDateTime &now) {
    return pastBy(siteKickOff(kickOff), kMatchLasts, now);
}

bool analysisPageSettled(const Value &kickOff, const QDateTime &now) {
    return pastBy(siteKickOff(kickOff), kMatchLasts + kAnalysisSettles, now);
}

bool listedAnalysisPageSettled(const Table &matchTable, int row, const QDateTime &now) {
    static const QRegularExpression score(QStringLiteral(R"(^\s*\d+\s*-\s*\d+\s*$)"));
    static const QRegularExpression monthDayTime(QStringLiteral(R"(^\s*(\d{1,2})-(\d{1,2})\s+(\d{1,2}):(\d{2})\s*$)"));
    if (row < 0 || row >= matchTable.rows() || matchTable.columns() <= matchtable::ScoreField)
        return false;
    if (!score.match(matchTable.at(matchtable::ScoreField, row).text()).hasMatch())
        return false;
    const auto m = monthDayTime.match(matchTable.at(matchtable::KickOffField, row).text());
    if (!m.hasMatch())
        return false;
    const QTime time(m.captured(3).toInt(), m.captured(4).toInt());
    const QDateTime siteNow = now.toTimeZone(QTimeZone(kSiteUtcOffsetSeconds));
    // This year's date, or last year's when this year's is still ahead.
    for (int year = siteNow.date().year(); year >= siteNow.date().year() - 1; --year) {
        const QDate date(year, m.captured(1).toInt(), m.captured(2).toInt());
        if (!date.isValid() || !time.isValid())
            continue; // 29 February of a year that has none
        const QDateTime kickOff(date, time, QTimeZone(kSiteUtcOffsetSeconds));
        if (kickOff <= now)
            return pastBy(kickOff, kMatchLasts + kAnalysisSettles, now);
    }
    return false;
}

} // namespace chenglan
