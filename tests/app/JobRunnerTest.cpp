#include "app/JobRunner.h"
#include "base/Step.h"
#include "TestSite.h"

#include <QSignalSpy>
#include <QThread>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace chenglan;
using namespace chenglan::testing;

namespace {

const QString Slow = QStringLiteral("http://site.test/slow");
const QString Fast = QStringLiteral("http://site.test/fast");

// Fetches url and hands back its body, as a job's result.
JobWork fetchInto(QString url, QStringList *applied) {
    return [url, applied](JobContext &job) -> JobApply {
        HttpRequest request;
        request.url = url;
        const FetchOutcome outcome = job.web().fetch(request);
        job.progress(QStringLiteral("fetched ") + url);
        if (!outcome.ok())
            throw StepFailure(outcome.error,
                              outcome.failure == FetchOutcome::Failure::Aborted ? FailureKind::Cancelled
                                                                                : FailureKind::Network);
        const QString body = QString::fromUtf8(outcome.response->body);
        return [applied, body] { applied->append(body); };
    };
}

bool waitIdle(JobRunner &runner) {
    return QTest::qWaitFor([&] { return runner.runningWorkers() == 0; }, 20000);
}

} // namespace

TEST(JobRunner, ANewerJobCancelsTheRunningOneAndOnlyItsResultsAreApplied) {
    TestSite site;
    site.page(Slow, QStringLiteral("old"));
    site.page(Fast, QStringLiteral("new"));
    site.hold(Slow);
    JobRunner runner(site.factory());
    QSignalSpy status(&runner, &JobRunner::status);
    QSignalSpy finished(&runner, &JobRunner::finished);
    QSignalSpy failed(&runner, &JobRunner::failed);
    QStringList applied;

    const quint64 first = runner.start(QStringLiteral("first"), fetchInto(Slow, &applied));
    ASSERT_TRUE(QTest::qWaitFor([&] { return site.waiting() == 1; }, 20000));
    const quint64 second = runner.start(QStringLiteral("second"), fetchInto(Fast, &applied));
    ASSERT_TRUE(waitIdle(runner));
    QCoreApplication::processEvents();

    EXPECT_NE(first, second);
    EXPECT_EQ(site.aborted(), 1);
    EXPECT_EQ(applied, QStringList{QStringLiteral("new")});
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.first().first().toULongLong(), second);
    EXPECT_EQ(failed.count(), 0) << "a cancelled job is no failure";
    QStringList said;
    for (const auto &args : status)
        said << args.first().toString();
    EXPECT_FALSE(said.contains(QStringLiteral("fetched ") + Slow)) << "a cancelled job's progress is not shown";
    EXPECT_TRUE(said.contains(QStringLiteral("fetched ") + Fast));
    EXPECT_FALSE(runner.busy());
}

TEST(JobRunner, IsNotIdleWhileAJobStartedByApplyingRuns) {
    TestSite site;
    site.page(Fast, QStringLiteral("list"));
    site.page(Slow, QStringLiteral("analysis"));
    site.hold(Slow);
    JobRunner runner(site.factory());
    QSignalSpy idle(&runner, &JobRunner::idle);
    QStringList applied;
    runner.start(QStringLiteral("list"), [&](JobContext &job) -> JobApply {
        const JobApply show = fetchInto(Fast, &applied)(job);
        return [&, show] {
            show();
            runner.start(QStringLiteral("analysis"), fetchInto(Slow, &applied));
        };
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return site.waiting() == 1; }, 20000));
    QCoreApplication::processEvents();
    EXPECT_EQ(applied, QStringList{QStringLiteral("list")});
    EXPECT_TRUE(runner.busy());
    EXPECT_EQ(idle.count(), 0) << "the second job is running";

    site.release(Slow);
    ASSERT_TRUE(QTest::qWaitFor([&] { return idle.count() == 1; }, 20000));
    EXPECT_EQ(applied, QStringList({QStringLiteral("list"), QStringLiteral("analysis")}));
}

TEST(JobRunner, ACancelAbortsEveryWebOfTheJob) {
    TestSite site;
    site.page(Slow, QStringLiteral("never"));
    site.hold(Slow);
    JobRunner runner(site.factory());
    QStringList applied;
    runner.start(QStringLiteral("two pages"), [](JobContext &job) -> JobApply {
        Web &second = job.anotherWeb();
        HttpRequest request;
        request.url = Slow;
        std::thread beside([&] { second.fetch(request); });
        job.web().fetch(request);
        beside.join();
        return [] {};
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return site.waiting() == 2; }, 20000));
    runner.cancel();
    ASSERT_TRUE(waitIdle(runner));
    EXPECT_EQ(site.aborted(), 2);
}

TEST(JobRunner, AFailedJobSaysWhyAndAppliesNothing) {
    TestSite site;
    site.setDown(true);
    JobRunner runner(site.factory());
    QSignalSpy failed(&runner, &JobRunner::failed);
    QSignalSpy idle(&runner, &JobRunner::idle);
    QStringList applied;
    runner.start(QStringLiteral("x"), fetchInto(Fast, &applied));
    ASSERT_TRUE(QTest::qWaitFor([&] { return idle.count() == 1; }, 20000));
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.first().at(1).toString(), QStringLiteral("操作没有完成。"));
    EXPECT_EQ(failed.first().at(2).toString(), QStringLiteral("Connection refused")) << "the cause as the detail";
    EXPECT_TRUE(applied.isEmpty());

    runner.start(QStringLiteral("y"), [](JobContext &) -> JobApply { throw std::runtime_error("broken"); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return idle.count() == 2; }, 20000));
    EXPECT_EQ(failed.last().at(2).toString(), QStringLiteral("broken"));
}

TEST(JobRunner, AWebMadeAfterTheCancelIsAbortedAtOnce) {
    TestSite site;
    site.page(Slow, QStringLiteral("late"));
    site.hold(Slow);
    std::promise<void> cancelled;
    std::shared_future<void> go = cancelled.get_future().share();
    const WebFactory inner = site.factory();
    JobRunner runner([inner, go] {
        go.wait();
        return inner();
    });
    QStringList applied;
    runner.start(QStringLiteral("x"), fetchInto(Slow, &applied));
    runner.cancel();
    cancelled.set_value();
    ASSERT_TRUE(waitIdle(runner)) << "the held fetch must come back aborted";
    QCoreApplication::processEvents();
    EXPECT_EQ(site.aborted(), 1);
    EXPECT_TRUE(applied.isEmpty());
}

TEST(JobRunner, DestroyingTheRunnerAbortsAndWaitsForItsWorkers) {
    TestSite site;
    site.page(Slow, QStringLiteral("never"));
    site.hold(Slow);
    std::atomic<bool> ended{false};
    auto runner = std::make_unique<JobRunner>(site.factory());
    runner->start(QStringLiteral("x"), [&ended](JobContext &job) -> JobApply {
        HttpRequest request;
        request.url = Slow;
        job.web().fetch(request);
        ended = true;
        return [] {};
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return site.waiting() == 1; }, 20000));
    runner.reset();
    EXPECT_TRUE(ended);
    EXPECT_EQ(site.aborted(), 1);
}

// Jobs one after the other share a kept thread (its fonts stay loaded); a
// job that is still held up never delays the next, which gets another thread.
TEST(JobRunner, KeepsItsThreadForTheNextJobAndNeverQueuesBehindARunningOne) {
    TestSite site;
    site.page(Fast, QStringLiteral("fast"));
    site.page(Slow, QStringLiteral("slow"));
    JobRunner runner(site.factory());
    QList<QThread *> threads;
    const auto noteThread = [&threads](JobContext &) -> JobApply {
        QThread *thread = QThread::currentThread();
        return [&threads, thread] { threads.append(thread); };
    };
    QSignalSpy finished(&runner, &JobRunner::finished);
    for (int i = 1; i <= 3; ++i) {
        runner.start(QStringLiteral("job"), noteThread);
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == i; }, 20000));
        ASSERT_TRUE(waitIdle(runner));
    }
    ASSERT_EQ(threads.size(), 3);
    EXPECT_EQ(threads[1], threads[0]);
    EXPECT_EQ(threads[2], threads[0]);
    EXPECT_NE(threads[0], QThread::currentThread());

    // A held job that takes no notice of the cancel keeps its thread busy.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> holding{false};
    QStringList applied;
    runner.start(QStringLiteral("stuck"), [&, released](JobContext &) -> JobApply {
        holding = true;
        released.wait();
        return [&applied] { applied.append(QStringLiteral("stuck")); };
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return holding.load(); }, 20000));
    for (int i = 0; i < 4; ++i)
        runner.start(QStringLiteral("next"), fetchInto(Fast, &applied));
    ASSERT_TRUE(QTest::qWaitFor([&] { return applied.contains(QStringLiteral("fast")); }, 20000))
        << "the newest job ran while the held one still had its thread";
    EXPECT_EQ(runner.runningWorkers(), 1);
    release.set_value();
    ASSERT_TRUE(waitIdle(runner));
    QCoreApplication::processEvents();
    EXPECT_EQ(applied, QStringList{QStringLiteral("fast")}) << "the cancelled jobs apply nothing";
}

// Starting any job used to cancel whatever ran: a server lookup dropped the
// running analysis. Only a job of the same lane cancels, and says so.
TEST(JobRunner, AJobCancelsOnlyTheRunningOneOfItsOwnLane) {
    TestSite site;
    const QString lookup = QStringLiteral("http://site.test/link");
    site.page(Slow, QStringLiteral("analysis"));
    site.page(Fast, QStringLiteral("newer analysis"));
    site.page(lookup, QStringLiteral("address"));
    site.hold(Slow);
    JobRunner runner(site.factory());
    QSignalSpy cancelled(&runner, &JobRunner::cancelled);
    QStringList applied;
    runner.start(QStringLiteral("click"), fetchInto(Slow, &applied), Lane::Click);
    ASSERT_TRUE(QTest::qWaitFor([&] { return site.waiting() == 1; }, 20000));

    runner.start(QStringLiteral("lookup"), fetchInto(lookup, &applied), Lane::ServerSlot);
    runner.start(QStringLiteral("ahead"), fetchInto(lookup, &applied), Lane::Prefetch);
    ASSERT_TRUE(QTest::qWaitFor([&] { return applied.size() == 2; }, 20000));
    EXPECT_EQ(cancelled.count(), 0);
    EXPECT_TRUE(runner.busy(Lane::Click)) << "the click runs on";
    EXPECT_EQ(site.aborted(), 0);

    runner.start(QStringLiteral("newer click"), fetchInto(Fast, &applied), Lane::Click);
    ASSERT_EQ(cancelled.count(), 1);
    EXPECT_EQ(cancelled.first().at(1).toString(), QStringLiteral("click"));
    ASSERT_TRUE(waitIdle(runner));
    QCoreApplication::processEvents();
    EXPECT_EQ(applied, QStringList({QStringLiteral("address"), QStringLiteral("address"),
                                    QStringLiteral("newer analysis")}));
}
