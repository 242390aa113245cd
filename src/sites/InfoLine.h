#pragma once
#include "base/Step.h"
#include "base/Table.h"

#include <QStringList>

namespace chenglan {

// The analysis page's info line (item 3 of the page's data): home team id,
// away team id, home name, away name, kick-off, comma separated. Both
// analyses, of a listed match and of a similar match, read their ids from it.
struct InfoLine {
    QStringList items;

    // An unreadable or empty line gives no items; the failure is logged.
    static InfoLine read(const ValueArray &analysisData, StepLog *log) {
        InfoLine line;
        attempt([&] {
            const QString text = analysisData.at(3).text();
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

} // namespace chenglan
