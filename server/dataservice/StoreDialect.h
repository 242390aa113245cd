#pragma once

#include <QSqlDatabase>
#include <QString>

#include <stdexcept>

// What differs between the two databases the store runs on: a SQLite file on
// this machine, or a PostgreSQL server that several machines share. The
// schema, the statements and the revision scheme are the same; only opening,
// the schema-version record, transaction starts and a few spellings differ.
namespace chenglan::dataservice {

class StoreError : public std::runtime_error {
public:
    explicit StoreError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

enum class Dialect { SQLite, PostgreSQL };

// True for "postgresql://..." and "postgres://..."; anything else is a file.
bool isPostgresAddress(const QString &where);

// The database a --db value names, shown without its password.
QString displayAddress(const QString &where);

// Adds and opens a connection named `connection` to the file or server.
// Throws StoreError (the connection is removed again then).
QSqlDatabase openStoreDatabase(const QString &where, bool readOnly, const QString &connection, Dialect *dialect);

// The SQLite DDL of a migration as `dialect` writes it: PostgreSQL's REAL and
// INTEGER are four bytes, so the columns become DOUBLE PRECISION and BIGINT.
QString dialectDdl(const char *sqliteDdl, Dialect dialect);

// The statement that starts a write transaction holding the writers' lock.
QString beginWriteSql(Dialect dialect);
// The statement that starts a read transaction seeing one snapshot.
QString beginSnapshotSql(Dialect dialect);
// An upsert's "only when something differs" test: SQLite's row-value IS NOT,
// PostgreSQL's IS DISTINCT FROM (both treat NULL as a value).
QString dialectUpsert(const char *sqliteUpsert, Dialect dialect);

} // namespace chenglan::dataservice
