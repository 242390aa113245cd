// Several services on one database, and a database that goes away: each
// service answers from memory and follows the writes of the others.

#include "DataService.h"
#include "MatchStore.h"
#include "ServiceTestData.h"
#include "TestPostgres.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <thread>

using namespace chenglan::dataservice;
using namespace chenglan::dataservice::testing;

namespace {

const char kQuery[] = "sql=0.35,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10,";
const Strengths kNear{35, -20, 40, -10, 50, 0, 45, 5};
// What the change-following promises: a replica answers a committed write
// within this long, at the default refresh interval.
constexpr auto kFollowBound = std::chrono::milliseconds(2000);

// The match id of the first record a service answers (0 for none).
qint64 firstAnswer(DataService &service) {
    const Reply reply = service.answerQuery(kQuery);
    return reply.body.isEmpty() ? 0 : reply.body.left(reply.body.indexOf(',')).toLongLong();
}

void storeNear(const QString &where, qint64 id, const QString &kickoff) {
    // One batch, as ingest writes them: facts and profile in one transaction.
    MatchStore store(where);
    store.beginBatch();
    store.upsertMatch(finishedMatch(id, kickoff));
    store.upsertProfile(profileOf(id, kNear));
    store.commitBatch();
}

class Replicas : public OnBothBackends {};
CHENGLAN_ON_BOTH_BACKENDS(Replicas);

} // namespace

TEST_P(Replicas, TwoServicesAnswerAnIngestsBatchWithinTwoSeconds) {
    storeNear(where(), 1, QStringLiteral("2024-01-01 20:00"));
    ServiceOptions options;
    options.databasePath = where();
    DataService first(options), second(options);
    ASSERT_GT(first.start(0), 0);
    ASSERT_GT(second.start(0), 0);
    ASSERT_EQ(firstAnswer(first), 1);
    ASSERT_EQ(firstAnswer(second), 1);

    // Same distance, newer kick-off: answered first once seen.
    storeNear(where(), 2, QStringLiteral("2024-02-01 20:00"));
    QElapsedTimer clock;
    clock.start();
    while ((firstAnswer(first) != 2 || firstAnswer(second) != 2) && clock.elapsed() < 10 * kFollowBound.count())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto took = clock.elapsed();
    EXPECT_EQ(firstAnswer(first), 2);
    EXPECT_EQ(firstAnswer(second), 2);
    EXPECT_LT(took, kFollowBound.count());
    std::printf("[ figures  ] both services answered the new batch %lld ms after its commit\n", (long long)took);
}

// The PostgreSQL server stops under a running service and comes back.
TEST(ReplicaOutage, QueriesAreAnsweredFromMemoryAndTheServiceCatchesUpWhenTheServerReturns) {
    auto &server = TestPostgres::instance();
    if (!server.available())
        GTEST_SKIP() << "no PostgreSQL server: " << server.whyNot().toStdString();
    const QString where = server.createDatabase();
    ASSERT_FALSE(where.isEmpty()) << server.whyNot().toStdString();
    storeNear(where, 1, QStringLiteral("2024-01-01 20:00"));
    ServiceOptions options;
    options.databasePath = where;
    options.refreshInterval = std::chrono::milliseconds(100);
    DataService service(options);
    ASSERT_GT(service.start(0), 0);
    EXPECT_TRUE(service.storeState().reachable);

    ASSERT_TRUE(server.stop()) << server.whyNot().toStdString();
    QElapsedTimer clock;
    clock.start();
    while (service.storeState().reachable && clock.elapsed() < 20000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto state = service.storeState();
    EXPECT_FALSE(state.reachable);
    EXPECT_FALSE(state.error.isEmpty());
    EXPECT_EQ(firstAnswer(service), 1);

    ASSERT_TRUE(server.start()) << server.whyNot().toStdString();
    storeNear(where, 2, QStringLiteral("2024-02-01 20:00"));
    const qint64 written = MatchStore(where, MatchStore::Access::ReadOnly).revision();
    EXPECT_TRUE(service.waitForRevision(written, std::chrono::seconds(30)));
    EXPECT_EQ(firstAnswer(service), 2);
    EXPECT_TRUE(service.storeState().reachable);
    service.stop();
}
