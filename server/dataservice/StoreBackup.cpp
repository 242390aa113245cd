#include "StoreBackup.h"

#include "MatchStore.h"
#include "ServiceLimits.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <unistd.h>

#include <atomic>

namespace chenglan::dataservice {

namespace {

std::atomic<int> g_backupCounter{0};

// A Qt Sql connection of its own, removed again however the copy ends.
class Connection {
public:
    Connection(const QString &path, bool readOnly)
        : m_name(QStringLiteral("chenglan-backup-%1").arg(g_backupCounter.fetch_add(1))) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
            db.setDatabaseName(path);
            QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(limits::kBusyTimeoutMs);
            if (readOnly)
                options += QStringLiteral(";QSQLITE_OPEN_READONLY");
            db.setConnectOptions(options);
            if (!db.open())
                m_error = QStringLiteral("cannot open %1: %2").arg(path, db.lastError().text());
        }
    }
    ~Connection() {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }
    const QString &error() const { return m_error; }

    QVariant single(const QString &sql) {
        QSqlQuery q(db());
        if (!q.exec(sql) || !q.next())
            throw StoreError(QStringLiteral("%1 failed: %2").arg(sql, q.lastError().text()));
        return q.value(0);
    }

private:
    QString m_name;
    QString m_error;
};

} // namespace

qint64 backupDatabase(const QString &databasePath, const QString &out) {
    if (databasePath.contains(QLatin1String("://")))
        throw StoreError(QStringLiteral("backup copies a SQLite database; a PostgreSQL database is backed up with "
                                        "pg_dump or its standby"));
    if (!QFileInfo::exists(databasePath))
        throw StoreError(QStringLiteral("no database %1").arg(databasePath));
    if (QFileInfo::exists(out))
        throw StoreError(QStringLiteral("%1 exists already; a backup never overwrites").arg(out));
    // The schema check (and nothing else) of the program's own reader.
    { MatchStore check(databasePath, MatchStore::Access::ReadOnly); }

    const QString temporary = out + QStringLiteral(".tmp-%1").arg(::getpid());
    QFile::remove(temporary);
    {
        Connection source(databasePath, true);
        if (!source.error().isEmpty())
            throw StoreError(source.error());
        // The file name is bound, never part of the statement's text.
        QSqlQuery vacuum(source.db());
        if (!vacuum.prepare(QStringLiteral("VACUUM INTO ?")))
            throw StoreError(QStringLiteral("cannot prepare the copy: %1").arg(vacuum.lastError().text()));
        vacuum.addBindValue(temporary);
        if (!vacuum.exec()) {
            const QString why = vacuum.lastError().text();
            vacuum = QSqlQuery();
            QFile::remove(temporary);
            throw StoreError(QStringLiteral("cannot copy %1: %2").arg(databasePath, why));
        }
    }
    qint64 revision = 0;
    try {
        Connection copy(temporary, true);
        if (!copy.error().isEmpty())
            throw StoreError(copy.error());
        const QString check = copy.single(QStringLiteral("PRAGMA quick_check")).toString();
        if (check != QLatin1String("ok"))
            throw StoreError(QStringLiteral("the copy fails its check: %1").arg(check));
        revision = copy.single(QStringLiteral("SELECT value FROM meta WHERE key = 'revision'")).toLongLong();
    } catch (...) {
        QFile::remove(temporary);
        throw;
    }
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(out).constData()) != 0) {
        QFile::remove(temporary);
        throw StoreError(QStringLiteral("cannot rename the copy to %1").arg(out));
    }
    return revision;
}

} // namespace chenglan::dataservice
