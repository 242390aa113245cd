#include "StoreDialect.h"

#include "ServiceLimits.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

namespace chenglan::dataservice {

namespace {

constexpr int kDefaultPostgresPort = 5432;
// A server that does not answer a connection attempt is given up after this
// long, so a refresh never hangs on it.
constexpr int kConnectTimeoutSeconds = 5;
// A connection whose peer vanished without closing it (a machine or network
// gone) is noticed after about idle + interval * count seconds.
constexpr int kKeepAliveIdleSeconds = 10;
constexpr int kKeepAliveIntervalSeconds = 5;
constexpr int kKeepAliveCount = 3;
// Data sent and not acknowledged for this long (a network that drops
// everything while a statement is on its way) ends the connection too.
constexpr int kTcpUserTimeoutMs = 30000;

// Connection parameters an address may add in its query ("?sslmode=require"):
// the ones an operator needs for TLS; the rest the store sets itself.
const char *const kPassedParameters[] = {"sslmode", "sslrootcert", "sslcert", "sslkey", "sslcrl", "application_name"};

bool passedParameter(const QString &key) {
    for (const char *name : kPassedParameters)
        if (key == QLatin1String(name))
            return true;
    return false;
}

QSqlDatabase openSqlite(const QString &path, bool readOnly, const QString &connection) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    if (!db.isValid())
        throw StoreError(QStringLiteral("the Qt SQLite driver is not available"));
    db.setDatabaseName(path);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(limits::kBusyTimeoutMs);
    if (readOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(options);
    return db;
}

QSqlDatabase openPostgres(const QString &address, const QString &connection) {
    const QUrl url(address, QUrl::StrictMode);
    const QString name = url.path().mid(1);
    if (!url.isValid() || url.host().isEmpty() || name.isEmpty() || name.contains(u'/'))
        throw StoreError(QStringLiteral("%1 is not a PostgreSQL address (postgresql://user@host:port/database)")
                             .arg(displayAddress(address)));
    QStringList options{QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds),
                        QStringLiteral("keepalives_idle=%1").arg(kKeepAliveIdleSeconds),
                        QStringLiteral("keepalives_interval=%1").arg(kKeepAliveIntervalSeconds),
                        QStringLiteral("keepalives_count=%1").arg(kKeepAliveCount),
                        QStringLiteral("tcp_user_timeout=%1").arg(kTcpUserTimeoutMs)};
    bool hasApplicationName = false;
    for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        // The driver joins options with ";" and passes them to libpq as
        // key=value words; a value that could break out of its word is refused.
        static const QRegularExpression plainValue(QStringLiteral("^[A-Za-z0-9_./:@-]*$"));
        if (!passedParameter(key) || !plainValue.match(value).hasMatch())
            throw StoreError(QStringLiteral("%1: the parameter %2 is not one the store accepts (%3)")
                                 .arg(displayAddress(address), key,
                                      QStringLiteral("sslmode, sslrootcert, sslcert, sslkey, sslcrl, application_name")));
        options << key + u'=' + value;
        hasApplicationName = hasApplicationName || key == QLatin1String("application_name");
    }
    if (!hasApplicationName)
        options << QStringLiteral("application_name=chenglan-service");

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    if (!db.isValid())
        throw StoreError(QStringLiteral("the Qt PostgreSQL driver is not available (Debian: libqt6sql6-psql)"));
    db.setHostName(url.host());
    db.setPort(url.port(kDefaultPostgresPort));
    db.setDatabaseName(name);
    if (!url.userName().isEmpty())
        db.setUserName(url.userName());
    if (!url.password().isEmpty())
        db.setPassword(url.password());
    db.setConnectOptions(options.join(u';'));
    return db;
}

} // namespace

bool isPostgresAddress(const QString &where) {
    return where.startsWith(QLatin1String("postgresql://")) || where.startsWith(QLatin1String("postgres://"));
}

QString displayAddress(const QString &where) {
    if (!isPostgresAddress(where))
        return where;
    QUrl url(where);
    if (!url.password().isEmpty())
        url.setPassword(QStringLiteral("***"));
    return url.toString();
}

QSqlDatabase openStoreDatabase(const QString &where, bool readOnly, const QString &connection, Dialect *dialect) {
    *dialect = isPostgresAddress(where) ? Dialect::PostgreSQL : Dialect::SQLite;
    QSqlDatabase db;
    try {
        db = *dialect == Dialect::PostgreSQL ? openPostgres(where, connection)
                                             : openSqlite(where, readOnly, connection);
    } catch (...) {
        QSqlDatabase::removeDatabase(connection);
        throw;
    }
    if (!db.open()) {
        const QString why = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connection);
        throw StoreError(QStringLiteral("cannot open %1: %2").arg(displayAddress(where), why));
    }
    return db;
}

QString dialectDdl(const char *sqliteDdl, Dialect dialect) {
    QString ddl = QString::fromUtf8(sqliteDdl);
    if (dialect == Dialect::PostgreSQL) {
        ddl.replace(QRegularExpression(QStringLiteral("\\bREAL\\b")), QStringLiteral("DOUBLE PRECISION"));
        ddl.replace(QRegularExpression(QStringLiteral("\\bINTEGER\\b")), QStringLiteral("BIGINT"));
    }
    return ddl;
}

QString beginWriteSql(Dialect dialect) {
    // SQLite: take the write lock now rather than at the first write.
    // PostgreSQL: writers queue on the revision row they all update first.
    return dialect == Dialect::PostgreSQL ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE");
}

QString beginSnapshotSql(Dialect dialect) {
    // SQLite's read transaction sees one snapshot from its first read on.
    return dialect == Dialect::PostgreSQL ? QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")
                                          : QStringLiteral("BEGIN");
}

QString dialectUpsert(const char *sqliteUpsert, Dialect dialect) {
    QString sql = QString::fromUtf8(sqliteUpsert);
    if (dialect == Dialect::PostgreSQL)
        sql.replace(QRegularExpression(QStringLiteral("\\)\\s+IS NOT\\s+\\(")), QStringLiteral(") IS DISTINCT FROM ("));
    return sql;
}

} // namespace chenglan::dataservice
