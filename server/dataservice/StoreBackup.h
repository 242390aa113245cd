#pragma once

#include <QString>

// A consistent copy of the service's database, taken while other processes
// read and write it.
namespace chenglan::dataservice {

// Copies the database at `databasePath` to `out` with SQLite's VACUUM INTO:
// one read transaction, so the copy holds whole batches only, and writers
// (WAL mode) go on meanwhile. The copy is made beside `out` under a temporary
// name, checked, and renamed to `out`; an existing `out` is refused. Returns
// the revision copied. Throws StoreError.
qint64 backupDatabase(const QString &databasePath, const QString &out);

} // namespace chenglan::dataservice
