#pragma once

#include "MatchRecords.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>

// The service's database: one SQLite file holding the match facts and the
// strength profiles. It is the truth; the similarity index is rebuilt from it.
namespace chenglan::dataservice {

class StoreError : public std::runtime_error {
public:
    explicit StoreError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// What an upsert did.
enum class UpsertResult { Inserted, Updated, Unchanged };

// A match as the answer shows it: its facts and its profile.
struct AnswerRow {
    MatchFacts facts;
    MatchProfile profile;
    std::int64_t kickoffMinutes = 0;
};

// One connection to the database file. A connection belongs to the thread
// that opened it; every thread that reads opens its own.
class MatchStore {
public:
    enum class Access { ReadWrite, ReadOnly };

    static constexpr int kSchemaVersion = 1;

    // Opens the file. ReadWrite creates it when missing and brings an older
    // schema up to date; a schema newer than this program is refused.
    // Throws StoreError.
    explicit MatchStore(const QString &path, Access access = Access::ReadWrite);
    ~MatchStore();
    MatchStore(const MatchStore &) = delete;
    MatchStore &operator=(const MatchStore &) = delete;

    int schemaVersion();
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
    // Counts commits made by other connections; a change means re-read.
    qint64 dataVersion();
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
    template<typename Write> UpsertResult inBatch(Write write);

    QString m_connection;
    QSqlDatabase m_db;
    bool m_inBatch = false;
    qint64 m_batchRevision = 0;
    QSqlQuery m_matchExists, m_matchUpsert, m_profileExists, m_profileUpsert;
};

} // namespace chenglan::dataservice
