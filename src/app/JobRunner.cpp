#include "app/JobRunner.h"

#include "base/Step.h"

#include <QRunnable>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <utility>

namespace chenglan {

// Shared between the window's thread, which cancels, and the worker, which
// owns the Webs: cancelling aborts every Web made so far, and a Web made
// after the cancel is aborted as soon as it is made.
struct JobControl {
    // Post to the runner's thread; the runner outlives every worker, as its
    // destructor waits for them.
    std::function<void(const QString &)> postProgress;
    std::function<void(JobApply, const QString &)> postCompletion;
    WebFactory webs;
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    QList<Web *> live;

    void cancel() {
        cancelled = true;
        const std::lock_guard lock(mutex);
        for (Web *web : std::as_const(live))
            web->abort();
    }
    void attach(Web *web) {
        const std::lock_guard lock(mutex);
        live.append(web);
        if (cancelled)
            web->abort();
    }
    void detach(Web *web) {
        const std::lock_guard lock(mutex);
        live.removeOne(web);
    }
};

struct JobRunner::Worker {
    std::shared_ptr<JobControl> control;
};

JobContext::JobContext(std::shared_ptr<JobControl> control) : m_control(std::move(control)) {
    m_web = &anotherWeb();
}

JobContext::~JobContext() {
    for (const auto &web : m_webs)
        m_control->detach(web.get());
}

Web &JobContext::anotherWeb() {
    std::unique_ptr<Web> web = m_control->webs();
    if (!web)
        throw StepFailure(QStringLiteral("no network client"), FailureKind::Network);
    m_control->attach(web.get());
    m_webs.push_back(std::move(web));
    return *m_webs.back();
}

void JobContext::progress(const QString &sentence) {
    m_control->postProgress(sentence);
}

bool JobContext::cancelled() const { return m_control->cancelled; }

void JobContext::throwIfCancelled() const {
    if (cancelled())
        throw StepFailure(QStringLiteral("cancelled by a newer command"), FailureKind::Cancelled);
}

JobRunner::JobRunner(WebFactory webs, QObject *parent) : QObject(parent), m_webs(std::move(webs)) {
    // Threads are kept until the runner goes; a cancelled job still running
    // never holds up the next one, which then gets a thread of its own.
    m_threads.setExpiryTimeout(-1);
    m_threads.setMaxThreadCount(256);
}

JobRunner::~JobRunner() {
    for (Current &c : m_current)
        c = Current{};
    for (Worker *w : std::as_const(m_workers))
        w->control->cancel();
    m_threads.waitForDone();
    qDeleteAll(m_workers);
}

bool JobRunner::busy() const {
    return std::any_of(std::begin(m_current), std::end(m_current), [](const Current &c) { return c.job != 0; });
}

JobRunner::Current *JobRunner::laneOf(quint64 job) {
    for (Current &c : m_current)
        if (job != 0 && c.job == job)
            return &c;
    return nullptr;
}

quint64 JobRunner::start(const QString &what, JobWork work, Lane lane) {
    cancelCurrent(lane);
    const quint64 job = m_next++;
    auto control = std::make_shared<JobControl>();
    control->webs = m_webs;
    control->postProgress = [this, job](const QString &sentence) {
        QMetaObject::invokeMethod(this, [this, job, sentence] { reportProgress(job, sentence); },
                                  Qt::QueuedConnection);
    };
    control->postCompletion = [this, job](JobApply apply, const QString &failure) {
        QMetaObject::invokeMethod(
            this, [this, job, apply = std::move(apply), failure] { complete(job, apply, failure); },
            Qt::QueuedConnection);
    };
    m_current[int(lane)] = {job, what, control};

    auto *worker = new Worker;
    worker->control = control;
    m_workers.append(worker);
    emit status(what);
    m_threads.start(QRunnable::create([this, worker, control, work = std::move(work)] {
        run(control, work);
        // Queued after the completion, so a job is applied before it counts as ended.
        QMetaObject::invokeMethod(this, [this, worker] { workerEnded(worker); }, Qt::QueuedConnection);
    }));
    return job;
}

void JobRunner::run(const std::shared_ptr<JobControl> &control, const JobWork &work) {
    JobApply apply;
    QString failure;
    try {
        JobContext context(control);
        apply = work(context);
    } catch (const StepFailure &f) {
        failure = f.kind() == FailureKind::Cancelled ? QString() : f.message();
    } catch (const std::exception &e) {
        failure = QString::fromLocal8Bit(e.what());
    } catch (...) {
        failure = QStringLiteral("unknown error");
    }
    if (control->cancelled)
        return;
    control->postCompletion(std::move(apply), failure);
}

bool JobRunner::cancelCurrent(Lane lane) {
    Current &c = m_current[int(lane)];
    if (!c.control)
        return false;
    c.control->cancel();
    const Current old = std::exchange(c, Current{});
    emit cancelled(old.job, old.what);
    return true;
}

void JobRunner::cancel(Lane lane) {
    if (cancelCurrent(lane) && !busy())
        emit idle();
}

void JobRunner::reportProgress(quint64 job, const QString &sentence) {
    if (laneOf(job))
        emit status(sentence);
}

void JobRunner::complete(quint64 job, JobApply apply, const QString &failure) {
    Current *lane = laneOf(job);
    if (!lane)
        return;
    *lane = Current{};
    if (apply && failure.isEmpty()) {
        apply();
        emit finished(job);
    } else {
        emit failed(job, QStringLiteral("操作没有完成。"), failure.isEmpty() ? QStringLiteral("aborted") : failure);
    }
    // Applying may have started the next job (a list shown, then a row
    // clicked): the runner is idle only when it did not.
    if (!busy())
        emit idle();
}

void JobRunner::workerEnded(Worker *worker) {
    m_workers.removeOne(worker);
    delete worker;
}

} // namespace chenglan
