#pragma once
#include "base/Step.h"
#include "base/Table.h"
#include "sites/HistoryParsing.h"

#include <QStringList>

namespace chenglan {

// The analysis page's info line (item 3 of the page's data): home team id,
// away team id, home name, away name, kick-off, comma separated. Both
// analyses, of a listed match and of a similar match, read their ids from it.
struct InfoLine {
    static constexpr int HomeIdItem = 0;
    static constexpr int AwayIdItem = 1;
    static constexpr int HomeNameItem = 2;
    static constexpr int AwayNameItem = 3;
    static constexpr int KickOffItem = 4;

    QStringList items;

    // An unreadable or empty line gives no items; the failure is logged.
    static InfoLine read(const ValueArray &analysisData, StepLog *log) {
        InfoLine line;
        attempt([&] {
            const QString text = analysisData.at(analysisdata::InfoLine).text();
            if (!text.isEmpty())
                line.items = text.split(u',');
        }, log);
        return line;
    }

    bool isEmpty() const { return items.isEmpty(); }

    const QString &item(int index) const {
        if (index >= items.size())
            throw StepFailure(QStringLiteral("info line has no item %1 (%2 items)").arg(index).arg(items.size()),
                              FailureKind::Layout);
        return items[index];
    }
};

// What an analysis takes from the info line of its page: both team ids as
// numbers, the team names when withNames, and the kick-off as a date. An
// item that cannot be read stays empty; the failure is logged.
struct InfoLineValues {
    bool lineMissing = true;
    Value homeTeamId;
    Value awayTeamId;
    Value homeTeamName;
    Value awayTeamName;
    Value kickOff;
};

inline InfoLineValues readInfoLine(const ValueArray &analysisData, bool withNames, StepLog *log) {
    const InfoLine info = InfoLine::read(analysisData, log);
    InfoLineValues v;
    v.lineMissing = info.isEmpty();
    attempt([&] { v.homeTeamId = Value(history::fieldNumber(info.item(InfoLine::HomeIdItem))); }, log);
    attempt([&] { v.awayTeamId = Value(history::fieldNumber(info.item(InfoLine::AwayIdItem))); }, log);
    if (withNames) {
        attempt([&] { v.homeTeamName = Value(info.item(InfoLine::HomeNameItem)); }, log);
        attempt([&] { v.awayTeamName = Value(info.item(InfoLine::AwayNameItem)); }, log);
    }
    attempt([&] { v.kickOff = Value(Value(info.item(InfoLine::KickOffItem)).toDate()); }, log);
    return v;
}

} // namespace chenglan
