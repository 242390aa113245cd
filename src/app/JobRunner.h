#pragma once

#include "net/Web.h"

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <vector>

namespace chenglan {

struct JobControl;

// What the work of a job may use on its worker thread.
class JobContext {
public:
    explicit JobContext(std::shared_ptr<JobControl> control);
    ~JobContext();
    JobContext(const JobContext &) = delete;
    JobContext &operator=(const JobContext &) = delete;

    // The job's Web.
    Web &web() { return *m_web; }
    // One more Web of this job, for work that fetches on a second thread; it
    // lives as long as the job and is aborted with the others on cancel.
    Web &anotherWeb();
    // A sentence for the status bar; shown only while the job is current.
    void progress(const QString &sentence);
    bool cancelled() const;
    // Throws StepFailure(Cancelled) once a newer job has taken over.
    void throwIfCancelled() const;

private:
    std::shared_ptr<JobControl> m_control;
    std::vector<std::unique_ptr<Web>> m_webs;
    Web *m_web = nullptr;
};

// What a finished job hands the window: applied on the window's thread, in
// one go, and only when no newer job has started meanwhile.
using JobApply = std::function<void()>;
// The work of a job: runs on a worker thread on copies of what it needs and
// returns how to apply its results. A StepFailure(Cancelled) ends it quietly;
// any other exception is reported as a failure of the job.
using JobWork = std::function<JobApply(JobContext &)>;

// Runs the window's commands off the window's thread, one current job at a
// time: starting a job cancels the running one (its Web is aborted, so its
// fetch returns at once) and the results of a cancelled job are dropped.
// Jobs run on worker threads that are kept for the next job (a new one is
// made only while every kept thread is busy), so what a thread caches, such
// as its loaded fonts, serves every job after the first.
class JobRunner : public QObject {
    Q_OBJECT
public:
    explicit JobRunner(WebFactory webs, QObject *parent = nullptr);
    // Cancels the current job and waits for every worker to end.
    ~JobRunner() override;

    // Starts work as the current job; what is the status sentence shown until
    // the job reports progress. Returns the job's number.
    quint64 start(const QString &what, JobWork work);
    // Cancels the current job without starting another.
    void cancel();

    bool busy() const { return m_current != 0; }
    quint64 currentJob() const { return m_current; }
    // Jobs whose work is still running, the cancelled ones included.
    int runningWorkers() const { return int(m_workers.size()); }

signals:
    // A sentence for the status bar: the current job's title or progress.
    void status(const QString &sentence);
    // The current job's results were applied.
    void finished(quint64 job);
    // The current job ended without results; the sentence says why.
    void failed(quint64 job, const QString &sentence);
    // No job is current any more (after finished, failed or cancel).
    void idle();

private:
    struct Worker;
    bool cancelCurrent();
    void complete(quint64 job, JobApply apply, const QString &failure);
    void reportProgress(quint64 job, const QString &sentence);
    void workerEnded(Worker *worker);
    static void run(const std::shared_ptr<JobControl> &control, const JobWork &work);

    WebFactory m_webs;
    quint64 m_next = 1;
    quint64 m_current = 0;
    std::shared_ptr<JobControl> m_currentControl;
    QList<Worker *> m_workers;
    QThreadPool m_threads;
};

} // namespace chenglan
