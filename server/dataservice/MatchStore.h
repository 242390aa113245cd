#pragma once

#include "MatchRecords.h"
#include "StoreDialect.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// The service's database, holding the match facts and the strength profiles:
// one SQLite file, or a PostgreSQL database that several services share. It
// is the truth; the similarity index is rebuilt from it.
namespace chenglan::dataservice {

// What an upsert did.
enum class UpsertResult { Inserted, Updated, Unchanged };

// A match as the answer shows it: its facts and its profile.
struct AnswerRow {
    MatchFacts facts;
    MatchProfile profile;
    std::int64_t kickoffMinutes = 0;
};

// One connection to the database. A connection belongs to the thread that
// opened it; every thread that reads opens its own.
class MatchStore {
public:
    enum class Access { ReadWrite, ReadOnly };

    static constexpr int kSchemaVersion = 1;

    // Opens the file, or the PostgreSQL database a "postgresql://" address
    // names. ReadWrite creates the schema when missing and brings an older one
    // up to date; a schema newer than this program is refused.
    // Throws StoreError.
    explicit MatchStore(const QString &where, Access access = Access::ReadWrite);
    ~MatchStore();
    MatchStore(const MatchStore &) = delete;
    MatchStore &operator=(const MatchStore &) = delete;

    Dialect dialect() const { return m_dialect; }
    // SQLite: PRAGMA user_version; PostgreSQL: meta's 'schema_version' row.
    int schemaVersion();
    // SQLite only.
    QString journalMode();

    // Writes go in batches: one transaction and one revision each.
    void beginBatch();
    void commitBatch();
    void rollbackBatch();

    // Insert or update by match id; an identical row is left alone, so a
    // re-run changes nothing. Outside a batch each call is its own batch.
    UpsertResult upsertMatch(const MatchFacts &facts);
    UpsertResult upsertProfile(const MatchProfile &profile);

    std::optional<MatchFacts> match(qint64 matchId);
    std::optional<MatchProfile> profile(qint64 matchId);
    qint64 matchCount();
    qint64 profileCount();

    // The revision of the last committed batch.
    qint64 revision();
    // SQLite only: counts commits made by other connections.
    qint64 dataVersion();
    // A number that changes when another connection commits, cheap to read:
    // SQLite's data_version, PostgreSQL's revision (every write batch raises it).
    qint64 changeStamp();
    // Walks what changed after revision `since` (0: everything): `changed` gets
    // every analysed finished match whose facts or profile changed,
    // `removed` every analysed match that is no longer one of those (no
    // score, no facts, an unreadable row). Returns the revision reached.
    qint64 changesSince(qint64 since, const std::function<void(const AnswerRow &)> &changed,
                        const std::function<void(qint64)> &removed);

private:
    QSqlQuery prepared(const QString &sql);
    QSqlQuery &cached(QSqlQuery &slot, const char *sql);
    void exec(QSqlQuery &query, const char *what);
    void execText(const QString &sql);
    void migrate();
    void setSchemaVersion(int version);
    template<typename Write> UpsertResult inBatch(Write write);

    QString m_connection;
    QSqlDatabase m_db;
    Dialect m_dialect = Dialect::SQLite;
    bool m_inBatch = false;
    qint64 m_batchRevision = 0;
    QSqlQuery m_matchExists, m_matchUpsert, m_profileExists, m_profileUpsert;
};

} // namespace chenglan::dataservice
