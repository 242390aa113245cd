#pragma once

#include "SimilarityIndex.h"

#include <QString>

#include <cstdint>
#include <optional>

// A copy of the in-memory similarity index in a file beside the database, so
// that a restarted service answers within a second or two instead of reading
// and encoding a million rows again. The file is only ever used for the
// database state it was written from: it carries the store's revision and
// row counts, a fingerprint of the record encoding and a checksum of its
// contents, and anything that does not match makes the service rebuild the
// index from the database instead.
namespace chenglan::dataservice {

class MatchStore;

// The database state an index was read at.
struct StoreStamp {
    qint64 revision = 0;
    qint64 matchCount = 0;
    qint64 profileCount = 0;

    bool operator==(const StoreStamp &) const = default;
};

// The store's stamp now. No value when a write committed while it was read
// (the counts would not belong to the revision). Throws StoreError.
std::optional<StoreStamp> readStoreStamp(MatchStore &store);

// "<database>.index".
QString snapshotPathFor(const QString &databasePath);

// Writes the groups to `path` through a temporary file renamed over it, so a
// reader finds the old file or the new one, never half of one. Returns an
// empty text, or why it could not.
QString writeIndexSnapshot(const QString &path, const StoreStamp &stamp, const SimilarityIndex::Groups &groups);

struct SnapshotRead {
    std::optional<SimilarityIndex::Groups> groups; // set when the file was usable
    QString why;                                   // else why not
};

// Reads the file when it was written at `expected` with this program's record
// encoding and its checksum holds.
SnapshotRead readIndexSnapshot(const QString &path, const StoreStamp &expected);

} // namespace chenglan::dataservice
