// What an operator relies on: /healthz telling loading from loaded and from a
// database that cannot be read, /metrics in the exposition format a monitor
// parses, the index file that makes a restart quick (same answers, and never
// used for another state of the database), and a backup taken while writes go on.

#include "DataService.h"
#include "IndexSnapshot.h"
#include "MatchStore.h"
#include "ServiceLog.h"
#include "ServiceTestData.h"
#include "StoreBackup.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <gtest/gtest.h>
#include <httplib.h>

#include <map>
#include <random>
#include <thread>

using namespace chenglan::dataservice;
using namespace chenglan::dataservice::testing;
using namespace std::chrono_literals;

namespace {

const QString kCodes[] = {QStringLiteral("A31"), QStringLiteral("B10"), QStringLiteral("A03")};

// `count` analysed finished matches spread over nine pattern groups, with
// close and equal distances so that the tie rules matter.
void fillProfiles(const QString &path, qint64 first, qint64 count, unsigned seed) {
    MatchStore store(path);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(-60, 60), code(0, 2), day(1, 28);
    store.beginBatch();
    for (qint64 id = first; id < first + count; ++id) {
        store.upsertMatch(finishedMatch(id, QStringLiteral("2024-03-%1 20:00").arg(day(random), 2, 10, QLatin1Char('0'))));
        Strengths s;
        for (auto &v : s)
            v = value(random) * 5;
        store.upsertProfile(profileOf(id, s, kCodes[code(random)], kCodes[code(random)]));
    }
    store.commitBatch();
}

std::vector<std::string> queries(unsigned seed, int count) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(-300, 300), code(0, 2), id(0, 3000);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        std::string q = "sql=";
        for (int k = 0; k < kStrengthCount; ++k)
            q += hundredthsText(value(random)).toStdString() + ",";
        out.push_back(q + kCodes[code(random)].toStdString() + "," + kCodes[code(random)].toStdString() + ","
                      + std::to_string(id(random)));
    }
    return out;
}

ServiceOptions optionsFor(const QString &db, const QString &snapshot = {}) {
    ServiceOptions options;
    options.databasePath = db;
    options.refreshInterval = 0ms;
    options.snapshotPath = snapshot;
    options.snapshotInterval = 0ms;
    return options;
}

std::vector<QByteArray> answers(DataService &service, const std::vector<std::string> &qs) {
    std::vector<QByteArray> out;
    for (const auto &q : qs) {
        const Reply r = service.answerQuery(q);
        EXPECT_EQ(r.status, 200) << q;
        out.push_back(r.body);
    }
    return out;
}

QJsonObject json(const std::string &body) { return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object(); }

} // namespace

TEST(OperatorHealth, SaysLoadingUntilTheIndexIsLoadedThenTheRevisionAndCountAndWhenTheDatabaseIsGone) {
    TempDatabase db;
    fillProfiles(db.path(), 1, 50, 1);
    ServiceOptions options = optionsFor(db.path());
    options.deferLoad = true;
    options.refreshInterval = 50ms;
    DataService service(options);
    const int port = service.start(0);
    ASSERT_GT(port, 0);
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(10, 0);

    // Bound but not loading yet: a monitor must not send bettors here.
    auto loading = client.Get("/healthz");
    ASSERT_TRUE(loading);
    EXPECT_EQ(loading->status, 503);
    EXPECT_EQ(json(loading->body).value(QStringLiteral("status")).toString(), QStringLiteral("loading"));
    // An empty index would answer "nothing similar"; the query is refused instead.
    auto early = client.Get("/shili/deep_jc.asp?sql=0,0,0,0,0,0,0,0,A31,D10,");
    ASSERT_TRUE(early);
    EXPECT_EQ(early->status, 503);
    EXPECT_EQ(early->body.find('|'), std::string::npos);

    service.startLoading();
    ASSERT_TRUE(service.waitUntilLoaded(10s));
    auto loaded = client.Get("/healthz");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->status, 200) << loaded->body;
    const qint64 revision = MatchStore(db.path(), MatchStore::Access::ReadOnly).revision();
    EXPECT_EQ(json(loaded->body).value(QStringLiteral("revision")).toInteger(), revision);
    EXPECT_EQ(json(loaded->body).value(QStringLiteral("profiles")).toInteger(), 50);

    // The file goes away under the running service (an operator's mistake,
    // a lost volume): it keeps answering from memory but says so.
    ASSERT_TRUE(QFile::remove(db.path()));
    std::string status;
    for (int i = 0; i < 100 && status != "unavailable"; ++i) {
        std::this_thread::sleep_for(20ms);
        auto r = client.Get("/healthz");
        ASSERT_TRUE(r);
        status = json(r->body).value(QStringLiteral("status")).toString().toStdString();
        if (status == "unavailable") {
            EXPECT_EQ(r->status, 503);
            EXPECT_TRUE(json(r->body).value(QStringLiteral("reason")).toString().contains(QStringLiteral("database")));
        }
    }
    EXPECT_EQ(status, "unavailable");
    auto still = client.Get("/shili/deep_jc.asp?sql=0,0,0,0,0,0,0,0,A31,D10,");
    ASSERT_TRUE(still);
    EXPECT_EQ(still->status, 200);
    service.stop();

    // Log lines carry a UTC timestamp and a level, and stay one line.
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z WARN  a b$)"))
                    .match(formatLogLine(LogLevel::Warning, QStringLiteral("a\nb")))
                    .hasMatch());
}

TEST(OperatorMetrics, ExpositionParsesWithCountsByPathAndStatusAndACumulativeHistogram) {
    TempDatabase db;
    fillProfiles(db.path(), 1, 40, 2);
    DataService service(optionsFor(db.path()));
    const int port = service.start(0);
    ASSERT_GT(port, 0);
    httplib::Client client("127.0.0.1", port);
    // One connection: an answer is counted before the next request is read.
    client.set_keep_alive(true);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(client.Get("/shili/deep_jc.asp?sql=0.1,0,0,0,0,0,0,0,A31,D10,"));
    ASSERT_TRUE(client.Get("/shili/deep_jc.asp?sql=bad"));
    ASSERT_TRUE(client.Get("/no/such/page"));
    ASSERT_TRUE(client.Get("/link(1).txt"));
    auto res = client.Get("/metrics");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");

    // Text format 0.0.4: "# HELP name text", "# TYPE name kind" before the
    // samples of a family; "name{label="value",...} number".
    const QRegularExpression sampleLine(
        QStringLiteral(R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{([a-zA-Z_][a-zA-Z0-9_]*="([^"\\]|\\.)*",?)*\})? (\S+)$)"));
    std::map<std::string, std::string> typeOf;
    std::map<std::string, double> samples;
    for (const QString &line : QString::fromStdString(res->body).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("# HELP ")))
            continue;
        if (line.startsWith(QLatin1String("# TYPE "))) {
            const QStringList parts = line.split(u' ');
            ASSERT_EQ(parts.size(), 4) << line.toStdString();
            typeOf[parts[2].toStdString()] = parts[3].toStdString();
            continue;
        }
        const auto m = sampleLine.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        std::string family = m.captured(1).toStdString();
        for (const char *suffix : {"_bucket", "_sum", "_count"})
            if (!typeOf.contains(family) && family.ends_with(suffix))
                family.resize(family.size() - std::strlen(suffix));
        EXPECT_TRUE(typeOf.contains(family)) << "no TYPE before " << line.toStdString();
        bool ok = m.captured(5) == QLatin1String("+Inf");
        const double value = ok ? INFINITY : m.captured(5).toDouble(&ok);
        EXPECT_TRUE(ok) << line.toStdString();
        samples[line.section(u' ', 0, -2).toStdString()] = value;
    }
    EXPECT_EQ(typeOf["chenglan_http_requests_total"], "counter");
    EXPECT_EQ(typeOf["chenglan_similar_query_duration_seconds"], "histogram");
    EXPECT_EQ((samples[R"(chenglan_http_requests_total{path="/shili/deep_jc.asp",status="200"})"]), 3);
    EXPECT_EQ((samples[R"(chenglan_http_requests_total{path="/shili/deep_jc.asp",status="400"})"]), 1);
    EXPECT_EQ((samples[R"(chenglan_http_requests_total{path="other",status="404"})"]), 1);
    EXPECT_EQ((samples[R"(chenglan_http_requests_total{path="/link(N).txt",status="200"})"]), 1);
    EXPECT_EQ(samples["chenglan_profiles_loaded"], 40);
    EXPECT_EQ(samples["chenglan_revision_served"], double(MatchStore(db.path(), MatchStore::Access::ReadOnly).revision()));
    EXPECT_EQ(samples["chenglan_connections_refused_busy_total"], 0);
    EXPECT_GE(samples["chenglan_seconds_since_last_change"], 0);
    EXPECT_GT(samples["chenglan_load_duration_seconds"], 0);

    // Buckets are cumulative: counts never fall as the bound rises, and +Inf
    // equals the count.
    std::map<double, double> buckets;
    const QRegularExpression bucket(QStringLiteral(R"re(^chenglan_similar_query_duration_seconds_bucket\{le="([^"]+)"\}$)re"));
    for (const auto &[name, value] : samples)
        if (const auto m = bucket.match(QString::fromStdString(name)); m.hasMatch())
            buckets[m.captured(1) == QLatin1String("+Inf") ? INFINITY : m.captured(1).toDouble()] = value;
    ASSERT_GT(buckets.size(), 5u);
    ASSERT_TRUE(buckets.contains(INFINITY));
    double previous = 0;
    for (const auto &[le, count] : buckets) {
        EXPECT_GE(count, previous) << "le=" << le;
        previous = count;
    }
    EXPECT_EQ((samples[R"(chenglan_similar_query_duration_seconds_bucket{le="+Inf"})"]),
              samples["chenglan_similar_query_duration_seconds_count"]);
    EXPECT_EQ(samples["chenglan_similar_query_duration_seconds_count"], 4);
    EXPECT_EQ((samples[R"(chenglan_similar_query_duration_seconds_bucket{le="1"})"]), 4);
}

TEST(OperatorIndexFile, AServiceStartedFromTheFileAnswersByteForByteAsAFreshlyLoadedOne) {
    TempDatabase db;
    fillProfiles(db.path(), 1, 3000, 3);
    const QString file = snapshotPathFor(db.path());
    const auto qs = queries(4, 300);

    std::vector<QByteArray> fresh;
    {
        DataService loaded(optionsFor(db.path(), file));
        EXPECT_FALSE(loaded.loadedFromSnapshot());
        ASSERT_EQ(loaded.writeSnapshot(), QString());
        fresh = answers(loaded, qs);
    }
    DataService fromFile(optionsFor(db.path(), file));
    ASSERT_TRUE(fromFile.loadedFromSnapshot());
    EXPECT_EQ(fromFile.index().size(), 3000u);
    EXPECT_EQ(answers(fromFile, qs), fresh);
    // It goes on following the database from the file's revision.
    fillProfiles(db.path(), 5000, 1, 5);
    EXPECT_EQ(fromFile.refresh(), 1u);
    EXPECT_EQ(fromFile.index().size(), 3001u);
}

TEST(OperatorIndexFile, IsRebuiltWhenItDoesNotMatchTheDatabaseOrIsDamaged) {
    TempDatabase db;
    fillProfiles(db.path(), 1, 500, 6);
    const QString file = snapshotPathFor(db.path());
    { ASSERT_EQ(DataService(optionsFor(db.path(), file)).writeSnapshot(), QString()); }

    // Written while the service was down: the file is of an older revision.
    fillProfiles(db.path(), 1000, 20, 7);
    const auto qs = queries(8, 100);
    std::vector<QByteArray> truth;
    {
        DataService truthService(optionsFor(db.path()));
        truth = answers(truthService, qs);
    }
    {
        DataService stale(optionsFor(db.path(), file));
        EXPECT_FALSE(stale.loadedFromSnapshot());
        EXPECT_EQ(stale.index().size(), 520u);
        EXPECT_EQ(answers(stale, qs), truth);
        // Serving writes the rebuilt index out for the next start (at the
        // latest when it stops).
        ASSERT_GT(stale.start(0), 0);
    }
    {
        DataService again(optionsFor(db.path(), file));
        EXPECT_TRUE(again.loadedFromSnapshot());
        EXPECT_EQ(answers(again, qs), truth);
    }

    // A byte flipped in the middle, and a file cut short.
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const qint64 size = f.size();
    f.seek(size / 2);
    char byte = 0;
    f.getChar(&byte);
    f.seek(size / 2);
    f.putChar(char(byte ^ 0x10));
    f.close();
    {
        DataService damaged(optionsFor(db.path(), file));
        EXPECT_FALSE(damaged.loadedFromSnapshot());
        EXPECT_EQ(answers(damaged, qs), truth);
    }
    ASSERT_TRUE(QFile::resize(file, size - 100));
    DataService cut(optionsFor(db.path(), file));
    EXPECT_FALSE(cut.loadedFromSnapshot());
    EXPECT_EQ(answers(cut, qs), truth);
}

namespace {

// Every row of a table, column by column, of the rows with a revision up to `upTo`.
std::vector<std::vector<QVariant>> rowsOf(const QString &path, const QString &table, qint64 upTo) {
    std::vector<std::vector<QVariant>> rows;
    const QString name = QStringLiteral("rows-%1").arg(path);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT * FROM %1 WHERE revision <= ? ORDER BY match_id").arg(table));
        q.addBindValue(upTo);
        EXPECT_TRUE(q.exec());
        while (q.next()) {
            std::vector<QVariant> row;
            for (int c = 0; c < q.record().count(); ++c)
                row.push_back(q.value(c));
            rows.push_back(std::move(row));
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

} // namespace

TEST(OperatorBackup, ACopyTakenWhileBatchesAreWrittenHoldsWholeBatchesRowByRow) {
    TempDatabase db;
    fillProfiles(db.path(), 1, 2000, 9);
    std::atomic<bool> done{false};
    std::atomic<int> batches{0};
    std::thread writer([&] {
        for (qint64 first = 100000; !done && first < 100000 + 200 * 100; first += 100) {
            fillProfiles(db.path(), first, 100, unsigned(first));
            ++batches;
        }
    });
    while (batches < 3)
        std::this_thread::sleep_for(1ms);
    const QString out = QFileInfo(db.path()).dir().filePath(QStringLiteral("backup.db"));
    qint64 revision = 0;
    try {
        revision = backupDatabase(db.path(), out);
    } catch (const StoreError &e) {
        FAIL() << e.what();
    }
    done = true;
    writer.join();
    // The copy was taken while batches were still being written.
    EXPECT_LT(revision, MatchStore(db.path(), MatchStore::Access::ReadOnly).revision());
    EXPECT_THROW(backupDatabase(db.path(), out), StoreError) << "an existing file is never overwritten";

    // Restored as the service's database, it is the source as of its revision.
    const QString restored = QFileInfo(db.path()).dir().filePath(QStringLiteral("restored.db"));
    ASSERT_TRUE(QFile::copy(out, restored));
    {
        MatchStore store(restored);
        EXPECT_EQ(store.revision(), revision);
    }
    const qint64 copied = MatchStore(restored, MatchStore::Access::ReadOnly).profileCount();
    EXPECT_GT(copied, 2000);
    EXPECT_EQ((copied - 2000) % 100, 0) << "a batch was copied in part";
    for (const QString &table : {QStringLiteral("matches"), QStringLiteral("profiles")}) {
        const auto source = rowsOf(db.path(), table, revision);
        const auto copy = rowsOf(restored, table, std::numeric_limits<qint64>::max());
        ASSERT_EQ(copy.size(), source.size()) << table.toStdString();
        EXPECT_TRUE(copy == source) << table.toStdString();
    }
}
