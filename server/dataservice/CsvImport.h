#pragma once

#include "MatchRecords.h"
#include "MatchStore.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

// Import of finished matches from the sample site's CSV export (columns in
// the README). Idempotent: a match is stored once by its id, and a line that
// says what is stored already changes nothing.
namespace chenglan::dataservice {

// The columns the import knows, by their header names.
enum class CsvColumn {
    MatchId,
    League,
    LeagueColour,
    HomeTeam,
    AwayTeam,
    Kickoff,
    HalfTimeHome,
    HalfTimeAway,
    FullTimeHome,
    FullTimeAway,
    Handicap,
    HomeOdds,
    AwayOdds,
    // Optional: read when the header names them.
    LeagueShort,
    HandicapLine,
};
inline constexpr int kCsvColumnKinds = 15;
inline constexpr int kCsvRequiredColumns = 13;

// Where each known column stands in a line (-1: absent). Without a header the
// 13 required columns are expected in the documented order; with one, they
// are found by name and any other column is ignored.
struct CsvLayout {
    std::array<int, kCsvColumnKinds> position{};
    int fieldCount = kCsvRequiredColumns;

    static CsvLayout documented();
    // The layout a header line names, or why it cannot be used.
    static std::optional<CsvLayout> fromHeader(const QStringList &names, QString *error);
};

// One CSV line split into fields: "," separates, a field in double quotes
// may hold "," and a doubled quote. No value for an unterminated quote or a
// quote in the middle of a bare field.
std::optional<QStringList> splitCsvLine(QStringView line);

// A match from one line's fields, or why the line is not one.
struct CsvMatch {
    std::optional<MatchFacts> facts;
    QString error;
};
CsvMatch matchFromCsv(const QStringList &fields, const CsvLayout &layout = CsvLayout::documented());

struct ImportReport {
    int lines = 0; // data lines read (header and blank lines aside)
    int inserted = 0;
    int updated = 0;
    int unchanged = 0;
    int unfinished = 0; // stored, but without a full-time score yet
    int bad = 0;        // reported and skipped
    QString fatal;      // set when the file cannot be read at all
};

// Reads the CSV (UTF-8, optional byte-order mark, optional header line) into
// the store in batches. `report` receives one line per bad line and a
// progress line every batch. Throws StoreError when the database fails; the
// batches committed until then stay.
ImportReport importCsv(QIODevice &input, MatchStore &store, const std::function<void(const QString &)> &report);

} // namespace chenglan::dataservice
