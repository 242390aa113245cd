#include "MatchStore.h"

#include "ServiceLimits.h"

#include <QSqlError>
#include <QStringList>
#include <QVariant>

#include <atomic>
#include <unordered_set>

namespace chenglan::dataservice {

namespace {

std::atomic<int> g_connectionCounter{0};

// The PostgreSQL advisory lock key migrations hold (any fixed number that no
// other program on the database uses).
constexpr qint64 kMigrationLock = 0x6368656e676c616e; // "chenglan"

// Each step brings the schema from version i to i + 1.
const char *const kMigrations[] = {
    // 0 -> 1: facts from the site export, profiles from the analysis, and a
    // revision counter that stamps every changed row so that a server can
    // pick up exactly what an import changed. Written as SQLite reads it;
    // dialectDdl() widens the number types for PostgreSQL.
    R"(
CREATE TABLE meta (key TEXT PRIMARY KEY, value INTEGER NOT NULL);
INSERT INTO meta (key, value) VALUES ('revision', 0);
CREATE TABLE matches (
  match_id INTEGER PRIMARY KEY,
  league TEXT NOT NULL,
  league_short TEXT NOT NULL,
  league_colour TEXT NOT NULL,
  home_team TEXT NOT NULL,
  away_team TEXT NOT NULL,
  kickoff TEXT NOT NULL,
  ht_home INTEGER, ht_away INTEGER,
  ft_home INTEGER, ft_away INTEGER,
  handicap TEXT NOT NULL,
  handicap_line REAL,
  home_odds REAL, away_odds REAL,
  revision INTEGER NOT NULL);
CREATE INDEX matches_by_revision ON matches (revision);
CREATE TABLE profiles (
  match_id INTEGER PRIMARY KEY,
  s0 REAL NOT NULL, s1 REAL NOT NULL, s2 REAL NOT NULL, s3 REAL NOT NULL,
  s4 REAL NOT NULL, s5 REAL NOT NULL, s6 REAL NOT NULL, s7 REAL NOT NULL,
  code20 TEXT NOT NULL, code10 TEXT NOT NULL,
  revision INTEGER NOT NULL);
CREATE INDEX profiles_by_revision ON profiles (revision);
)",
};
static_assert(std::size(kMigrations) == MatchStore::kSchemaVersion);

const char *const kMatchColumns =
    "m.match_id, m.league, m.league_short, m.league_colour, m.home_team, m.away_team, m.kickoff, m.ht_home, "
    "m.ht_away, m.ft_home, m.ft_away, m.handicap, m.handicap_line, m.home_odds, m.away_odds";
const char *const kProfileColumns =
    "p.match_id, p.s0, p.s1, p.s2, p.s3, p.s4, p.s5, p.s6, p.s7, p.code20, p.code10";
constexpr int kProfileColumnCount = 11;

// A null QString binds as NULL; the text columns hold "" instead.
QVariant textValue(const QString &text) { return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text); }
QVariant optionalValue(const std::optional<int> &v) { return v ? QVariant(*v) : QVariant(); }
QVariant optionalValue(const std::optional<double> &v) { return v ? QVariant(*v) : QVariant(); }

std::optional<int> optionalInt(const QVariant &v) {
    if (v.isNull())
        return std::nullopt;
    return v.toInt();
}

std::optional<double> optionalDouble(const QVariant &v) {
    if (v.isNull())
        return std::nullopt;
    return v.toDouble();
}

MatchFacts readFacts(const QSqlQuery &q, int first) {
    MatchFacts f;
    f.matchId = q.value(first).toLongLong();
    f.league = q.value(first + 1).toString();
    f.leagueShort = q.value(first + 2).toString();
    f.leagueColour = q.value(first + 3).toString();
    f.homeTeam = q.value(first + 4).toString();
    f.awayTeam = q.value(first + 5).toString();
    f.kickoff = q.value(first + 6).toString();
    f.halfTimeHome = optionalInt(q.value(first + 7));
    f.halfTimeAway = optionalInt(q.value(first + 8));
    f.fullTimeHome = optionalInt(q.value(first + 9));
    f.fullTimeAway = optionalInt(q.value(first + 10));
    f.handicap = q.value(first + 11).toString();
    f.handicapLine = optionalDouble(q.value(first + 12));
    f.homeOdds = optionalDouble(q.value(first + 13));
    f.awayOdds = optionalDouble(q.value(first + 14));
    return f;
}

// No value when a stored number is out of range or a code is not one.
std::optional<MatchProfile> readProfile(const QSqlQuery &q, int first) {
    MatchProfile p;
    p.matchId = q.value(first).toLongLong();
    for (int k = 0; k < kStrengthCount; ++k) {
        const auto h = hundredthsFromNumber(q.value(first + 1 + k).toDouble());
        if (!h)
            return std::nullopt;
        p.strengths[k] = *h;
    }
    p.code20 = q.value(first + 9).toString();
    p.code10 = q.value(first + 10).toString();
    if (!validPatternCode(p.code20) || !validPatternCode(p.code10))
        return std::nullopt;
    return p;
}

} // namespace

MatchStore::MatchStore(const QString &where, Access access)
    : m_connection(QStringLiteral("chenglan-service-%1").arg(g_connectionCounter.fetch_add(1))) {
    m_db = openStoreDatabase(where, access == Access::ReadOnly, m_connection, &m_dialect);
    try {
        if (access == Access::ReadWrite) {
            if (m_dialect == Dialect::SQLite) {
                // WAL lets a server read while an import writes; it is a
                // property of the file, set once by the first writer.
                execText(QStringLiteral("PRAGMA journal_mode=WAL"));
                execText(QStringLiteral("PRAGMA synchronous=NORMAL"));
            }
            migrate();
        } else {
            if (m_dialect == Dialect::PostgreSQL)
                execText(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"));
            if (schemaVersion() != kSchemaVersion)
                throw StoreError(QStringLiteral("%1 has schema version %2, this program reads %3")
                                     .arg(displayAddress(where))
                                     .arg(schemaVersion())
                                     .arg(kSchemaVersion));
        }
    } catch (...) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
        throw;
    }
}

MatchStore::~MatchStore() {
    if (m_inBatch)
        rollbackBatch();
    for (QSqlQuery *query : {&m_matchExists, &m_matchUpsert, &m_profileExists, &m_profileUpsert})
        *query = QSqlQuery();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

QSqlQuery MatchStore::prepared(const QString &sql) {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw StoreError(QStringLiteral("cannot prepare a statement: %1").arg(q.lastError().text()));
    return q;
}

QSqlQuery &MatchStore::cached(QSqlQuery &slot, const char *sql) {
    if (slot.lastQuery().isEmpty())
        slot = prepared(dialectUpsert(sql, m_dialect));
    return slot;
}

void MatchStore::exec(QSqlQuery &query, const char *what) {
    if (!query.exec())
        throw StoreError(QStringLiteral("%1 failed: %2").arg(QLatin1String(what), query.lastError().text()));
}

void MatchStore::execText(const QString &sql) {
    QSqlQuery q(m_db);
    if (!q.exec(sql))
        throw StoreError(QStringLiteral("%1 failed: %2").arg(sql.simplified(), q.lastError().text()));
}

int MatchStore::schemaVersion() {
    QSqlQuery q(m_db);
    if (m_dialect == Dialect::PostgreSQL) {
        // An empty database has no meta table yet: version 0.
        if (!q.exec(QStringLiteral("SELECT to_regclass('meta') IS NOT NULL")) || !q.next())
            throw StoreError(QStringLiteral("cannot read the schema version: %1").arg(q.lastError().text()));
        if (!q.value(0).toBool())
            return 0;
        if (!q.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'schema_version'")))
            throw StoreError(QStringLiteral("cannot read the schema version: %1").arg(q.lastError().text()));
        return q.next() ? q.value(0).toInt() : 0;
    }
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        throw StoreError(QStringLiteral("cannot read the schema version: %1").arg(q.lastError().text()));
    return q.value(0).toInt();
}

void MatchStore::setSchemaVersion(int version) {
    if (m_dialect == Dialect::SQLite) {
        execText(QStringLiteral("PRAGMA user_version = %1").arg(version));
        return;
    }
    auto q = prepared(QStringLiteral("INSERT INTO meta (key, value) VALUES ('schema_version', ?) "
                                     "ON CONFLICT (key) DO UPDATE SET value = excluded.value"));
    q.addBindValue(qint64(version));
    exec(q, "recording the schema version");
}

QString MatchStore::journalMode() {
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("PRAGMA journal_mode")) || !q.next())
        throw StoreError(QStringLiteral("cannot read the journal mode: %1").arg(q.lastError().text()));
    return q.value(0).toString();
}

void MatchStore::migrate() {
    execText(beginWriteSql(m_dialect));
    try {
        // Services starting together on an empty server: one creates the
        // schema, the others wait for it and find it made.
        if (m_dialect == Dialect::PostgreSQL)
            execText(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMigrationLock));
        const int version = schemaVersion();
        if (version > kSchemaVersion)
            throw StoreError(QStringLiteral("the database has schema version %1; this program knows up to %2")
                                 .arg(version)
                                 .arg(kSchemaVersion));
        for (int v = version; v < kSchemaVersion; ++v) {
            // QSqlQuery runs one statement at a time.
            for (const QString &statement : dialectDdl(kMigrations[v], m_dialect).split(u';', Qt::SkipEmptyParts))
                if (!statement.trimmed().isEmpty())
                    execText(statement);
            setSchemaVersion(v + 1);
        }
        execText(QStringLiteral("COMMIT"));
    } catch (...) {
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

void MatchStore::beginBatch() {
    if (m_inBatch)
        throw StoreError(QStringLiteral("a batch is already open"));
    execText(beginWriteSql(m_dialect));
    m_inBatch = true;
    try {
        execText(QStringLiteral("UPDATE meta SET value = value + 1 WHERE key = 'revision'"));
        m_batchRevision = revision();
    } catch (...) {
        rollbackBatch();
        throw;
    }
}

void MatchStore::commitBatch() {
    if (!m_inBatch)
        throw StoreError(QStringLiteral("no batch is open"));
    execText(QStringLiteral("COMMIT"));
    m_inBatch = false;
}

void MatchStore::rollbackBatch() {
    if (!m_inBatch)
        return;
    QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
    m_inBatch = false;
}

template<typename Write> UpsertResult MatchStore::inBatch(Write write) {
    if (m_inBatch)
        return write();
    beginBatch();
    try {
        const UpsertResult result = write();
        commitBatch();
        return result;
    } catch (...) {
        rollbackBatch();
        throw;
    }
}

UpsertResult MatchStore::upsertMatch(const MatchFacts &f) {
    return inBatch([&] {
        auto &exists = cached(m_matchExists, "SELECT 1 FROM matches WHERE match_id = ?");
        exists.addBindValue(f.matchId);
        exec(exists, "looking up a match");
        const bool existed = exists.next();
        exists.finish();

        auto &upsert = cached(m_matchUpsert, R"(
INSERT INTO matches (match_id, league, league_short, league_colour, home_team, away_team, kickoff,
                     ht_home, ht_away, ft_home, ft_away, handicap, handicap_line, home_odds, away_odds,
                     revision)
VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)
ON CONFLICT (match_id) DO UPDATE SET
  league = excluded.league, league_short = excluded.league_short, league_colour = excluded.league_colour,
  home_team = excluded.home_team, away_team = excluded.away_team, kickoff = excluded.kickoff,
  ht_home = excluded.ht_home, ht_away = excluded.ht_away,
  ft_home = excluded.ft_home, ft_away = excluded.ft_away,
  handicap = excluded.handicap, handicap_line = excluded.handicap_line,
  home_odds = excluded.home_odds, away_odds = excluded.away_odds,
  revision = excluded.revision
WHERE (matches.league, matches.league_short, matches.league_colour, matches.home_team, matches.away_team,
       matches.kickoff, matches.ht_home, matches.ht_away, matches.ft_home, matches.ft_away, matches.handicap,
       matches.handicap_line, matches.home_odds, matches.away_odds)
  IS NOT (excluded.league, excluded.league_short, excluded.league_colour, excluded.home_team,
          excluded.away_team, excluded.kickoff, excluded.ht_home, excluded.ht_away, excluded.ft_home,
          excluded.ft_away, excluded.handicap, excluded.handicap_line, excluded.home_odds,
          excluded.away_odds))");
        upsert.addBindValue(f.matchId);
        upsert.addBindValue(textValue(f.league));
        upsert.addBindValue(textValue(f.leagueShort));
        upsert.addBindValue(textValue(f.leagueColour));
        upsert.addBindValue(textValue(f.homeTeam));
        upsert.addBindValue(textValue(f.awayTeam));
        upsert.addBindValue(textValue(f.kickoff));
        upsert.addBindValue(optionalValue(f.halfTimeHome));
        upsert.addBindValue(optionalValue(f.halfTimeAway));
        upsert.addBindValue(optionalValue(f.fullTimeHome));
        upsert.addBindValue(optionalValue(f.fullTimeAway));
        upsert.addBindValue(textValue(f.handicap));
        upsert.addBindValue(optionalValue(f.handicapLine));
        upsert.addBindValue(optionalValue(f.homeOdds));
        upsert.addBindValue(optionalValue(f.awayOdds));
        upsert.addBindValue(m_batchRevision);
        exec(upsert, "storing a match");
        const int changed = upsert.numRowsAffected();
        upsert.finish();
        if (!existed)
            return UpsertResult::Inserted;
        return changed > 0 ? UpsertResult::Updated : UpsertResult::Unchanged;
    });
}

UpsertResult MatchStore::upsertProfile(const MatchProfile &p) {
    if (!validPatternCode(p.code20) || !validPatternCode(p.code10))
        throw StoreError(QStringLiteral("match %1: a pattern code is not letters and digits").arg(p.matchId));
    return inBatch([&] {
        auto &exists = cached(m_profileExists, "SELECT 1 FROM profiles WHERE match_id = ?");
        exists.addBindValue(p.matchId);
        exec(exists, "looking up a profile");
        const bool existed = exists.next();
        exists.finish();

        auto &upsert = cached(m_profileUpsert, R"(
INSERT INTO profiles (match_id, s0, s1, s2, s3, s4, s5, s6, s7, code20, code10, revision)
VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)
ON CONFLICT (match_id) DO UPDATE SET
  s0 = excluded.s0, s1 = excluded.s1, s2 = excluded.s2, s3 = excluded.s3,
  s4 = excluded.s4, s5 = excluded.s5, s6 = excluded.s6, s7 = excluded.s7,
  code20 = excluded.code20, code10 = excluded.code10, revision = excluded.revision
WHERE (profiles.s0, profiles.s1, profiles.s2, profiles.s3, profiles.s4, profiles.s5, profiles.s6, profiles.s7,
       profiles.code20, profiles.code10)
  IS NOT (excluded.s0, excluded.s1, excluded.s2, excluded.s3, excluded.s4, excluded.s5,
          excluded.s6, excluded.s7, excluded.code20, excluded.code10))");
        upsert.addBindValue(p.matchId);
        for (auto h : p.strengths)
            upsert.addBindValue(double(h) / 100.0);
        upsert.addBindValue(textValue(p.code20));
        upsert.addBindValue(textValue(p.code10));
        upsert.addBindValue(m_batchRevision);
        exec(upsert, "storing a profile");
        const int changed = upsert.numRowsAffected();
        upsert.finish();
        if (!existed)
            return UpsertResult::Inserted;
        return changed > 0 ? UpsertResult::Updated : UpsertResult::Unchanged;
    });
}

std::optional<MatchFacts> MatchStore::match(qint64 matchId) {
    auto q = prepared(
        QStringLiteral("SELECT %1 FROM matches m WHERE m.match_id = ?").arg(QLatin1String(kMatchColumns)));
    q.addBindValue(matchId);
    exec(q, "reading a match");
    if (!q.next())
        return std::nullopt;
    return readFacts(q, 0);
}

std::optional<MatchProfile> MatchStore::profile(qint64 matchId) {
    auto q = prepared(
        QStringLiteral("SELECT %1 FROM profiles p WHERE p.match_id = ?").arg(QLatin1String(kProfileColumns)));
    q.addBindValue(matchId);
    exec(q, "reading a profile");
    if (!q.next())
        return std::nullopt;
    return readProfile(q, 0);
}

qint64 MatchStore::matchCount() {
    auto q = prepared(QStringLiteral("SELECT count(*) FROM matches"));
    exec(q, "counting matches");
    return q.next() ? q.value(0).toLongLong() : 0;
}

qint64 MatchStore::profileCount() {
    auto q = prepared(QStringLiteral("SELECT count(*) FROM profiles"));
    exec(q, "counting profiles");
    return q.next() ? q.value(0).toLongLong() : 0;
}

qint64 MatchStore::revision() {
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'revision'")) || !q.next())
        throw StoreError(QStringLiteral("cannot read the revision: %1").arg(q.lastError().text()));
    return q.value(0).toLongLong();
}

qint64 MatchStore::changeStamp() { return m_dialect == Dialect::PostgreSQL ? revision() : dataVersion(); }

qint64 MatchStore::dataVersion() {
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("PRAGMA data_version")) || !q.next())
        throw StoreError(QStringLiteral("cannot read the data version: %1").arg(q.lastError().text()));
    return q.value(0).toLongLong();
}

qint64 MatchStore::changesSince(qint64 since, const std::function<void(const AnswerRow &)> &changed,
                                const std::function<void(qint64)> &removed) {
    qint64 reached = 0;
    // One read transaction, so the revision and the rows agree.
    execText(beginSnapshotSql(m_dialect));
    try {
        reached = revision();
        const QString select =
            QStringLiteral("SELECT %1, %2 ").arg(QLatin1String(kProfileColumns), QLatin1String(kMatchColumns));
        QStringList statements{select + QStringLiteral("FROM profiles p LEFT JOIN matches m ON m.match_id = p.match_id "
                                                       "WHERE p.revision > ?")};
        // A new score or kick-off of an analysed match changes its entry too.
        if (since > 0)
            statements << select + QStringLiteral("FROM matches m JOIN profiles p ON p.match_id = m.match_id "
                                                  "WHERE m.revision > ?");
        std::unordered_set<qint64> seen;
        for (const QString &sql : statements) {
            auto q = prepared(sql);
            q.addBindValue(since);
            exec(q, "reading changed profiles");
            while (q.next()) {
                const qint64 id = q.value(0).toLongLong();
                // A match whose facts and profile both changed comes up twice.
                if (!seen.insert(id).second)
                    continue;
                const auto profile = readProfile(q, 0);
                if (!profile || q.value(kProfileColumnCount).isNull()) {
                    removed(id);
                    continue;
                }
                AnswerRow row{readFacts(q, kProfileColumnCount), *profile, 0};
                const auto kickoff = kickoffMinutes(row.facts.kickoff);
                if (!kickoff || !row.facts.finished()) {
                    removed(id);
                    continue;
                }
                row.kickoffMinutes = *kickoff;
                changed(row);
            }
        }
        execText(QStringLiteral("COMMIT"));
    } catch (...) {
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
    return reached;
}

} // namespace chenglan::dataservice
