#pragma once

#include "MatchRecords.h"
#include "MatchStore.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Import of finished matches from the sample site's CSV export (columns in
// the README). Idempotent: a match is stored once by its id, and a line that
// says what is stored already changes nothing.
namespace chenglan::dataservice {

inline constexpr int kCsvColumns = 13;

// One CSV line split into fields: "," separates, a field in double quotes
// may hold "," and a doubled quote. No value for an unterminated quote or a
// quote in the middle of a bare field.
std::optional<QStringList> splitCsvLine(QStringView line);

// A match from the 13 columns, or why the line is not one.
struct CsvMatch {
    std::optional<MatchFacts> facts;
    QString error;
};
CsvMatch matchFromCsv(const QStringList &fields);

struct ImportReport {
    int lines = 0;      // data lines read (header and blank lines aside)
    int inserted = 0;
    int updated = 0;
    int unchanged = 0;
    int unfinished = 0; // stored, but without a full-time score yet
    int bad = 0;        // reported and skipped
};

// Reads the CSV (UTF-8, optional byte-order mark, optional header line) into
// the store in batches. `report` receives one line per bad line and a
// progress line every batch. Throws StoreError when the database fails; the
// batches committed until then stay.
ImportReport importCsv(QIODevice &input, MatchStore &store, const std::function<void(const QString &)> &report);

} // namespace chenglan::dataservice
