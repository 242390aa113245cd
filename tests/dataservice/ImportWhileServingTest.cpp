// The operator imports into the database the service is answering from:
// every answer is one the database held at some commit, never a mixture and
// never older than one given before, and an import that cannot get the
// database says so in its exit status.

#include "AnswerFormat.h"
#include "LoadClient.h"
#include "MatchStore.h"
#include "ServiceTestData.h"
#include "support/ServerProcess.h"

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

using namespace chenglan::dataservice;
using namespace chenglan::dataservice::testing;

namespace {

const QString kServiceBinary = QStringLiteral(CHENGLAN_BINARY_DIR "/server/dataservice/chenglan-service");
// A query at the origin: match i, whose first strength value is i hundredths
// and the others zero, is at distance i/100.
const std::string kTarget = "/shili/deep_jc.asp?sql=0,0,0,0,0,0,0,0,A31,D10,";
constexpr int kMatches = 20000;
constexpr int kKnownAtStart = 100; // the farthest ones have their facts from the start
constexpr int kBatch = 1000;       // the import's lines per transaction

ProgramRun runImport(const QString &db, const QString &csv) {
    return runProgram(kServiceBinary, {QStringLiteral("import"), QStringLiteral("--db"), db, csv});
}

// The ids an answer lists, after checking every record against the match it names.
std::vector<int> answeredIds(const std::string &body, std::string *problem) {
    const QString text = QStringDecoder("GB18030").decode(QByteArray::fromStdString(body));
    QStringList records = text.split(u'|');
    if (records.takeLast() != QString())
        *problem = "the answer does not end with a record";
    std::vector<int> ids;
    for (const QString &record : records) {
        QStringList f = record.split(u',');
        if (f.size() != field::Count + 1 || !f.last().isEmpty()) {
            *problem = "a record with " + std::to_string(f.size()) + " pieces";
            return {};
        }
        const int id = f[field::MatchId].toInt();
        if (f[field::HomeTeam] != QStringLiteral("主队%1").arg(id)
            || f[field::AwayTeam] != QStringLiteral("客队%1").arg(id)
            || f[field::Distance] != QString::number(id / 100.0, 'f', 4)
            || f[field::FullTimeScore] != QStringLiteral("2:1"))
            *problem = "record of match " + std::to_string(id) + " mixes in other values: " + record.toStdString();
        ids.push_back(id);
    }
    return ids;
}

} // namespace

TEST(ImportWhileServing, EveryAnswerIsOneTheDatabaseHeldAndTheyNeverGoBack) {
    TempDatabase db;
    {
        // Profiles for all, facts for the farthest only: the import brings
        // the others' facts, nearest last, so every batch changes the answer.
        MatchStore store(db.path());
        store.beginBatch();
        for (int id = 1; id <= kMatches; ++id) {
            store.upsertProfile(profileOf(id, Strengths{id, 0, 0, 0, 0, 0, 0, 0}));
            if (id > kMatches - kKnownAtStart)
                store.upsertMatch(finishedMatch(id));
        }
        store.commitBatch();
    }
    const QString csv = db.path() + QStringLiteral(".csv");
    {
        QFile file(csv);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("match_id,league,league_colour,home_team,away_team,kickoff,ht_home,ht_away,ft_home,ft_away,"
                   "handicap,home_odds,away_odds\n");
        for (int id = kMatches - kKnownAtStart; id >= 1; --id)
            file.write(
                QStringLiteral("%1,英格兰超级联赛,#ff0000,主队%1,客队%1,2024-03-01 20:00,1,0,2,1,半球,0.95,0.91\n")
                    .arg(id)
                    .toUtf8());
    }
    // The answers the database holds after each of the import's commits: the
    // 30 nearest of the matches with facts.
    std::map<std::vector<int>, int> states;
    int finalState = 0;
    for (int batches = 0; batches * kBatch <= kMatches - kKnownAtStart + kBatch - 1; ++batches) {
        finalState = batches;
        const int lowestKnown = std::max(1, kMatches - kKnownAtStart - batches * kBatch + 1);
        std::vector<int> top;
        for (int id = lowestKnown; int(top.size()) < 30; ++id)
            top.push_back(id);
        states.emplace(top, batches);
    }

    chenglan::testing::ServerProcess service(kServiceBinary,
                                             {QStringLiteral("serve"), QStringLiteral("--db"), db.path()});
    ASSERT_TRUE(service.ok()) << service.error().toStdString();

    std::atomic<bool> importing{true};
    std::vector<std::pair<int, std::string>> failures;
    std::vector<int> seen; // the state of each answer, in order
    std::thread reader([&] {
        // Until the import is done and the final answer has been seen.
        const auto started = std::chrono::steady_clock::now();
        while (importing || seen.empty() || seen.back() != finalState) {
            if (std::chrono::steady_clock::now() - started > std::chrono::seconds(60)) {
                failures.emplace_back(0, "the final answer did not come within a minute");
                return;
            }
            const RawAnswer answer = rawExchange(service.port(), getRequest(kTarget));
            std::string problem;
            const std::vector<int> ids = answer.status == 200 ? answeredIds(answer.body, &problem) : std::vector<int>{};
            const auto state = states.find(ids);
            if (answer.status != 200 || !problem.empty() || state == states.end()) {
                failures.emplace_back(answer.status, problem.empty() ? answer.body.substr(0, 300) : problem);
                if (failures.size() > 5 || answer.status == 0)
                    return;
                continue;
            }
            seen.push_back(state->second);
            if (seen.size() > 20000)
                return;
        }
    });
    const ProgramRun imported = runImport(db.path(), csv);
    importing = false;
    reader.join();

    EXPECT_EQ(imported.exitCode, 0) << imported.errors.toStdString();
    EXPECT_TRUE(imported.errors.contains(QStringLiteral("0 bad"))) << imported.errors.toStdString();
    for (const auto &[status, what] : failures)
        ADD_FAILURE() << "status " << status << ": " << what;
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << "an answer older than one given before";
    EXPECT_EQ(seen.back(), finalState);
    const std::set<int> distinct(seen.begin(), seen.end());
    std::printf("[ figures  ] %zu answers during the import, %zu of its %zu states seen\n", seen.size(),
                distinct.size(), states.size());
    EXPECT_EQ(MatchStore(db.path(), MatchStore::Access::ReadOnly).matchCount(), kMatches);
}

TEST(ImportWhileServing, AnImportThatCannotGetTheDatabaseFailsAndTheServiceAnswersOn) {
    TempDatabase db;
    {
        MatchStore store(db.path());
        store.upsertMatch(finishedMatch(7));
        store.upsertProfile(profileOf(7, Strengths{1, 0, 0, 0, 0, 0, 0, 0}));
    }
    const QString csv = db.path() + QStringLiteral(".csv");
    {
        QFile file(csv);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("8,英格兰超级联赛,#ff0000,主队8,客队8,2024-03-01 20:00,1,0,2,1,半球,0.95,0.91\n");
    }
    chenglan::testing::ServerProcess service(kServiceBinary,
                                             {QStringLiteral("serve"), QStringLiteral("--db"), db.path()});
    ASSERT_TRUE(service.ok()) << service.error().toStdString();
    const RawAnswer before = rawExchange(service.port(), getRequest(kTarget));
    ASSERT_EQ(before.status, 200);

    // Another writer holds the database longer than the import waits for it.
    const QString name = QStringLiteral("lock-holder");
    {
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        holder.setDatabaseName(db.path());
        ASSERT_TRUE(holder.open());
        QSqlQuery q(holder);
        ASSERT_TRUE(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
        ASSERT_TRUE(q.exec(QStringLiteral("UPDATE meta SET value = value WHERE key = 'revision'")));

        std::atomic<bool> done{false};
        int answeredMeanwhile = 0;
        std::thread reader([&] {
            while (!done) {
                const RawAnswer answer = rawExchange(service.port(), getRequest(kTarget));
                if (answer.status == 200 && answer.body == before.body)
                    ++answeredMeanwhile;
                else
                    ADD_FAILURE() << "status " << answer.status << " while the database was locked";
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
            }
        });
        const ProgramRun imported = runImport(db.path(), csv);
        done = true;
        reader.join();
        EXPECT_NE(imported.exitCode, 0) << "a failed import reported as success: " << imported.errors.toStdString();
        EXPECT_TRUE(imported.errors.contains(QStringLiteral("locked"))) << imported.errors.toStdString();
        EXPECT_FALSE(imported.errors.contains(QStringLiteral("import: done"))) << imported.errors.toStdString();
        EXPECT_GT(answeredMeanwhile, 3) << "the service stopped answering while a writer held the database";
        ASSERT_TRUE(q.exec(QStringLiteral("ROLLBACK")));
        q = QSqlQuery();
        holder.close();
    }
    QSqlDatabase::removeDatabase(name);
    EXPECT_EQ(MatchStore(db.path(), MatchStore::Access::ReadOnly).matchCount(), 1);

    // Once the database is free, the same import goes through.
    const ProgramRun again = runImport(db.path(), csv);
    EXPECT_EQ(again.exitCode, 0) << again.errors.toStdString();
    EXPECT_EQ(MatchStore(db.path(), MatchStore::Access::ReadOnly).matchCount(), 2);
}
