// Feeding the service by analysing finished matches: the pieces on their own,
// then the whole ingest against the sample site, in-process and as the
// program, killed in the middle.

#include "Ingest.h"
#include "MatchStore.h"
#include "TestPostgres.h"
#include "ServiceTestData.h"
#include "support/ServerProcess.h"

#include "net/QtWeb.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <mutex>

using namespace chenglan;
using namespace chenglan::dataservice;
using namespace chenglan::dataservice::testing;
using namespace Qt::StringLiterals;

namespace {

const QString kServiceBinary = QStringLiteral(CHENGLAN_BINARY_DIR "/server/dataservice/chenglan-service");
const QString kSiteBinary = QStringLiteral(CHENGLAN_BINARY_DIR "/server/samplesite/chenglan-sample-site");

// The sample site's days these tests read: 12 matches on 12 and 13 April
// 2024, about 150 from 16 March to 13 April, all finished by the site's today.
const QString kSiteToday = QStringLiteral("2024-04-20");
constexpr qint64 kFirstOf13April = 1916468; // 樱丘 1-3 白鹭, 14:00

// The network client needs an application object; the tests share one.
void ensureApplication() {
    static int argc = 1;
    static char name[] = "test_dataservice";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

SiteBases sitesOf(const chenglan::testing::ServerProcess &site) {
    SiteBases sites;
    sites.odds = site.url(u"odds/"_s);
    sites.analysis = site.url(u"zq/"_s);
    sites.detail = site.url(u"vip/"_s);
    return sites;
}

// Fails every fetch whose address contains one of the given pieces, as a
// refused connection would, and passes the others to the real network.
class FailingWeb : public Web {
public:
    explicit FailingWeb(QStringList failing) : m_failing(std::move(failing)) {}
    FetchOutcome fetch(const HttpRequest &request) override {
        for (const QString &piece : m_failing)
            if (request.url.contains(piece))
                return FetchOutcome::failed(FetchOutcome::Failure::Network, u"refused: "_s + request.url);
        return m_inner.fetch(request);
    }
    void abort() override { m_inner.abort(); }

private:
    QStringList m_failing;
    QtWeb m_inner;
};

class IngestTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }

    void SetUp() override {
        if (!QFileInfo::exists(kSiteBinary))
            GTEST_SKIP() << "the sample site is not built";
        m_site = std::make_unique<chenglan::testing::ServerProcess>(kSiteBinary, QStringList{u"--today"_s, kSiteToday});
        ASSERT_TRUE(m_site->ok()) << m_site->error().toStdString();
    }

    IngestOptions days(const QString &from, const QString &to) const {
        IngestOptions options;
        options.from = QDate::fromString(from, Qt::ISODate);
        options.to = QDate::fromString(to, Qt::ISODate);
        options.sites = sitesOf(*m_site);
        return options;
    }

    IngestReport run(MatchStore &store, const IngestOptions &options, QStringList failing = {}) {
        m_lines.clear();
        return ingest(
            store, options, [failing] { return std::make_unique<FailingWeb>(failing); },
            [this](const QString &line) {
                std::lock_guard lock(m_mutex);
                m_lines << line;
            });
    }

    QString lines() const { return m_lines.join(u'\n'); }

    std::unique_ptr<chenglan::testing::ServerProcess> m_site;
    TempDatabase m_db;
    std::mutex m_mutex;
    QStringList m_lines;
};

// The main run also on PostgreSQL: the analysis's values must come back equal,
// or a re-run would stamp every row anew.
class IngestOn : public IngestTest, public ::testing::WithParamInterface<Backend> {
protected:
    void SetUp() override {
        IngestTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        m_where = m_db.path();
        if (GetParam() == Backend::PostgreSQL) {
            auto &server = TestPostgres::instance();
            if (!server.available())
                GTEST_SKIP() << "no PostgreSQL server: " << server.whyNot().toStdString();
            m_where = server.createDatabase();
            ASSERT_FALSE(m_where.isEmpty()) << server.whyNot().toStdString();
        }
    }
    QString m_where;
};
CHENGLAN_ON_BOTH_BACKENDS(IngestOn);

// Every analysed match of a database: facts and profile, by id.
QMap<qint64, QString> contents(const QString &path) {
    QMap<qint64, QString> rows;
    MatchStore store(path, MatchStore::Access::ReadOnly);
    store.changesSince(0, [&](const AnswerRow &row) {
        rows.insert(row.profile.matchId, describe(row.facts) + u" | "_s + describe(row.profile));
    }, [](qint64) {});
    return rows;
}

} // namespace

TEST(HandicapLineFromText, ReadsTheSitesWordsInQuarterGoals) {
    const struct {
        const char16_t *text;
        std::optional<double> line;
    } cases[] = {
        {u"平手", 0.0},          {u"平手/半球", 0.25},     {u"半球", 0.5},      {u"半球/一球", 0.75},
        {u"一球", 1.0},          {u"球半/两球", 1.75},     {u"三球半", 3.5},    {u"受让平手/半球", -0.25},
        {u"受让一球", -1.0},     {u"受半球", -0.5},        {u" 受让平手 ", 0.0}, {u"", std::nullopt},
        {u"封", std::nullopt},   {u"半球/", std::nullopt}, {u"受让", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(handicapLineFromText(QString::fromUtf16(c.text)), c.line) << QString::fromUtf16(c.text).toStdString();
}

TEST(FinishedMatchFromRow, TakesTheListedFactsOfAFinishedMatchOnly) {
    Table t(21, 4);
    const auto row = [&](int r, double id, const QString &score, const QString &handicap) {
        t.set(0, r, Value(id));
        t.set(1, r, Value(u"#CC0066"_s));
        t.set(2, r, Value(u" 英格兰超级联赛 "_s));
        t.set(6, r, Value(score));
        t.set(8, r, Value(u"0.95"_s));
        t.set(9, r, Value(handicap));
        t.set(10, r, Value(u"0.91"_s));
    };
    row(0, 1916441, u" 1-0 "_s, u"受让半球/一球"_s);
    row(1, 1916442, u"VS"_s, u"半球"_s);
    row(2, 0, u"2-2"_s, u"半球"_s);
    row(3, 1916443, u"3-1"_s, u"暂无"_s);

    const auto first = finishedMatchFromRow(t, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->matchId, 1916441);
    EXPECT_EQ(first->league, u"英格兰超级联赛"_s);
    EXPECT_EQ(first->leagueColour, u"#cc0066"_s);
    EXPECT_EQ(first->fullTimeHome, 1);
    EXPECT_EQ(first->fullTimeAway, 0);
    EXPECT_EQ(first->handicap, u"受让半球/一球"_s);
    EXPECT_EQ(first->handicapLine, -0.75);
    EXPECT_EQ(first->homeOdds, 0.95);
    EXPECT_EQ(first->awayOdds, 0.91);
    EXPECT_FALSE(first->halfTimeHome);

    EXPECT_FALSE(finishedMatchFromRow(t, 1)) << "not played yet";
    EXPECT_FALSE(finishedMatchFromRow(t, 2)) << "no match id";
    EXPECT_FALSE(finishedMatchFromRow(t, 9)) << "no such row";
    const auto unknownHandicap = finishedMatchFromRow(t, 3);
    ASSERT_TRUE(unknownHandicap);
    EXPECT_TRUE(unknownHandicap->handicap.isEmpty());
    EXPECT_FALSE(unknownHandicap->handicapLine);
}

TEST(MergeFacts, StoredFactsStayAndTheIngestFillsWhatTheyLack) {
    MatchFacts fresh = finishedMatch(7);
    fresh.league = u"英格兰超级联赛"_s;
    fresh.leagueShort.clear();
    fresh.halfTimeHome.reset();
    fresh.halfTimeAway.reset();
    fresh.homeTeam = u"主队新"_s;

    EXPECT_EQ(mergeFacts(std::nullopt, fresh), fresh);

    MatchFacts stored = finishedMatch(7);
    stored.league = u"英格兰超级联赛(旧)"_s;
    stored.fullTimeHome.reset();
    stored.fullTimeAway.reset();
    stored.homeOdds.reset();
    const MatchFacts merged = mergeFacts(stored, fresh);
    EXPECT_EQ(merged.league, stored.league);
    EXPECT_EQ(merged.leagueShort, stored.leagueShort);
    EXPECT_EQ(merged.homeTeam, stored.homeTeam);
    EXPECT_EQ(merged.halfTimeHome, stored.halfTimeHome);
    EXPECT_EQ(merged.fullTimeHome, fresh.fullTimeHome) << "the score the import did not know yet";
    EXPECT_EQ(merged.fullTimeAway, fresh.fullTimeAway);
    EXPECT_EQ(merged.homeOdds, fresh.homeOdds) << "odds come as a pair";
    EXPECT_EQ(merged.awayOdds, fresh.awayOdds);
}

TEST_P(IngestOn, StoresTheAnalysisOfEveryFinishedMatchOnceAndARerunChangesNothing) {
    MatchStore store(m_where);
    const IngestReport first = run(store, days(u"2024-04-12"_s, u"2024-04-13"_s));
    EXPECT_EQ(first.days, 2);
    EXPECT_EQ(first.daysFailed, 0);
    EXPECT_EQ(first.finished, 12) << lines().toStdString();
    EXPECT_EQ(first.inserted, 12);
    EXPECT_EQ(first.skipped, 0);
    EXPECT_EQ(store.matchCount(), 12);
    EXPECT_EQ(store.profileCount(), 12);

    // The facts: the list's league, score, handicap and odds; the analysis
    // page's team names and kick-off with its year.
    const auto facts = store.match(kFirstOf13April);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->league, u"日本职业联赛"_s);
    EXPECT_EQ(facts->leagueColour, u"#009900"_s);
    EXPECT_EQ(facts->homeTeam, u"樱丘"_s);
    EXPECT_EQ(facts->awayTeam, u"白鹭"_s);
    EXPECT_EQ(facts->kickoff, u"2024-04-13 14:00"_s);
    EXPECT_EQ(facts->fullTimeHome, 1);
    EXPECT_EQ(facts->fullTimeAway, 3);
    EXPECT_EQ(facts->handicapLine, -0.75);

    // The profile is the client's own analysis of the match.
    QtWeb web;
    const PageRenderer renderer;
    const SiteBases sites = sitesOf(*m_site);
    AnalysisState s;
    ASSERT_TRUE(analyzeMatchId(s, Value(double(kFirstOf13April)), AnalysisContext{web, sites, renderer}).ok);
    const auto profile = store.profile(kFirstOf13April);
    ASSERT_TRUE(profile);
    for (int k = 0; k < kStrengthCount; ++k)
        EXPECT_EQ(profile->strengths[size_t(k)], hundredthsFromNumber(s.profile.strengths.at(k).number())) << k;
    EXPECT_EQ(profile->code20, s.profile.code20.text());
    EXPECT_EQ(profile->code10, s.profile.code10.text());

    const qint64 revision = store.revision();
    const IngestReport second = run(store, days(u"2024-04-12"_s, u"2024-04-13"_s));
    EXPECT_EQ(second.inserted, 0);
    EXPECT_EQ(second.updated, 0);
    EXPECT_EQ(second.unchanged, 12);
    EXPECT_EQ(store.matchCount(), 12);
    EXPECT_EQ(store.profileCount(), 12);
    int changed = 0;
    store.changesSince(revision, [&](const AnswerRow &) { ++changed; }, [&](qint64) { ++changed; });
    EXPECT_EQ(changed, 0) << "no row got a new revision";
}

TEST_F(IngestTest, AFailingMatchIsReportedAndSkippedAndTheNextRunCompletesIt) {
    MatchStore store(m_db.path());
    const QString failingPage = u"analysis/%1cn.htm"_s.arg(kFirstOf13April);
    const IngestReport failed = run(store, days(u"2024-04-12"_s, u"2024-04-13"_s), {failingPage});
    EXPECT_EQ(failed.skipped, 1);
    EXPECT_EQ(failed.inserted, 11);
    EXPECT_TRUE(lines().contains(u"ingest: match %1 skipped: "_s.arg(kFirstOf13April))) << lines().toStdString();
    EXPECT_FALSE(store.profile(kFirstOf13April));
    EXPECT_FALSE(store.match(kFirstOf13April)) << "no facts without the analysis";

    IngestOptions again = days(u"2024-04-12"_s, u"2024-04-13"_s);
    again.onlyNew = true;
    const IngestReport completed = run(store, again);
    EXPECT_EQ(completed.alreadyStored, 11);
    EXPECT_EQ(completed.inserted, 1);
    EXPECT_EQ(completed.skipped, 0);
    EXPECT_TRUE(store.profile(kFirstOf13April));
    EXPECT_EQ(store.profileCount(), 12);
}

TEST_F(IngestTest, AnUnreadableDayIsCountedAndTheOtherDaysAreStored) {
    MatchStore store(m_db.path());
    const IngestReport r = run(store, days(u"2024-04-12"_s, u"2024-04-13"_s), {u"date=2024-4-12"_s});
    EXPECT_EQ(r.days, 2);
    EXPECT_EQ(r.daysFailed, 1);
    EXPECT_EQ(r.inserted, 9);
    EXPECT_TRUE(lines().contains(u"ingest: 2024-04-12: "_s)) << lines().toStdString();
}

TEST_F(IngestTest, ATrendTooShortForTheFitsIsNoProfile) {
    // Early in the sample world the clubs have played about 20 matches: the
    // analysis completes with a trend of one point and eight zero strengths,
    // which would be every such match's nearest neighbour.
    MatchStore store(m_db.path());
    const IngestReport r = run(store, days(u"2022-01-03"_s, u"2022-01-03"_s));
    EXPECT_EQ(r.finished, 2);
    EXPECT_EQ(r.skipped, 2);
    EXPECT_EQ(store.profileCount(), 0);
    EXPECT_TRUE(lines().contains(u"skipped: the trend has only 1 of the 7 points a profile needs"_s))
        << lines().toStdString();
}

TEST_F(IngestTest, TheProgramKilledInTheMiddleLeavesWholeBatchesAndTheNextRunCompletesThem) {
    const SiteBases sites = sitesOf(*m_site);
    const auto ingestArguments = [&](const QString &db) {
        return QStringList{u"ingest"_s,        u"--db"_s,          db,         u"--from"_s,
                           u"2024-03-16"_s,    u"--to"_s,          u"2024-04-13"_s, u"--odds-site"_s,
                           sites.odds,         u"--analysis-site"_s, sites.analysis, u"--detail-site"_s,
                           sites.detail};
    };
    const auto runToEnd = [&](const QStringList &arguments) {
        QProcess p;
        p.start(kServiceBinary, arguments);
        const bool finished = p.waitForFinished(120000);
        EXPECT_TRUE(finished);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    };

    // What an uninterrupted ingest stores.
    TempDatabase reference;
    runToEnd(ingestArguments(reference.path()));
    const auto expected = contents(reference.path());
    ASSERT_GT(expected.size(), 100);

    // Killed as soon as the first batch is committed, with the next ones under way.
    QProcess killed;
    killed.setReadChannel(QProcess::StandardError);
    killed.start(kServiceBinary, ingestArguments(m_db.path()));
    bool batchCommitted = false;
    while (!batchCommitted && killed.waitForReadyRead(60000))
        while (killed.canReadLine())
            if (killed.readLine().contains(" done, "))
                batchCommitted = true;
    ASSERT_TRUE(batchCommitted);
    killed.kill();
    killed.waitForFinished();

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"killed-ingest"_s);
        db.setDatabaseName(m_db.path());
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(u"PRAGMA integrity_check"_s) && q.next());
        EXPECT_EQ(q.value(0).toString(), u"ok"_s);
        ASSERT_TRUE(q.exec(u"SELECT count(*) FROM profiles p LEFT JOIN matches m ON m.match_id = p.match_id "
                           "WHERE m.match_id IS NULL"_s) &&
                    q.next());
        EXPECT_EQ(q.value(0).toInt(), 0) << "a profile without its facts";
        q = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(u"killed-ingest"_s);
    const auto partial = contents(m_db.path());
    EXPECT_GE(partial.size(), 20);
    EXPECT_LT(partial.size(), expected.size()) << "the run ended before it was killed";
    for (auto it = partial.begin(); it != partial.end(); ++it)
        EXPECT_EQ(it.value(), expected.value(it.key()));

    QStringList resume = ingestArguments(m_db.path());
    resume << u"--only-new"_s;
    runToEnd(resume);
    EXPECT_EQ(contents(m_db.path()), expected);
}
