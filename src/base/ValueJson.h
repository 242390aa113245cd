#pragma once

#include "base/Table.h"

#include <QJsonArray>
#include <QJsonValue>

namespace chenglan {

// JSON forms used by the command line and by recorded test expectations:
// empty as null, text as a string, numbers as numbers, dates as
// "YYYY-MM-DD HH:MM:SS"; a table as an array of rows, each an array of its
// columns (table[row][column]); an unallocated table or array as null.
QJsonValue toJson(const Value &value);
QJsonValue toJson(const Table &table);
QJsonValue toJson(const ValueArray &array);

} // namespace chenglan
