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

// The lanes jobs run in. A newer job cancels an older one in its own lane
// only, as both write the same thing: a list replaces a list, a click (a
// list click, a similar click, the handicap command) replaces a click. A
// server-slot lookup and fetching ahead write nothing the others write, so
// they neither cancel nor are cancelled by anything but their own kind.
enum class Lane { List, Click, ServerSlot, Prefetch };
inline constexpr int LaneCount = 4;

// Runs the window's commands off the window's thread, at most one current
// job per lane: starting a job cancels the running one of its lane (its Web
// is aborted, so its fetch returns at once) and the results of a cancelled
// job are dropped. Jobs run on worker threads that are kept for the next job
// (a new one is made only while every kept thread is busy), so what a thread
// caches, such as its loaded fonts, serves every job after the first.
class JobRunner : public QObject {
    Q_OBJECT
public:
    explicit JobRunner(WebFactory webs, QObject *parent = nullptr);
    // Cancels the current jobs and waits for every worker to end.
    ~JobRunner() override;

    // Starts work as the current job of its lane, cancelling the one running
    // there; what is the status sentence shown until the job reports
    // progress. Returns the job's number.
    quint64 start(const QString &what, JobWork work, Lane lane = Lane::Click);
    // Cancels the current job of a lane without starting another.
    void cancel(Lane lane = Lane::Click);

    // A job is current in any lane, or in the given one.
    bool busy() const;
    bool busy(Lane lane) const { return current(lane).job != 0; }
    quint64 currentJob(Lane lane = Lane::Click) const { return current(lane).job; }
    // Jobs whose work is still running, the cancelled ones included.
    int runningWorkers() const { return int(m_workers.size()); }

signals:
    // A sentence for the status bar: the current job's title or progress.
    void status(const QString &sentence);
    // The current job's results were applied.
    void finished(quint64 job);
    // The current job ended without results; the sentence says why, the
    // detail is the technical cause (for the log and a tooltip).
    void failed(quint64 job, const QString &sentence, const QString &detail);
    // A job was cancelled before its results were applied: by a newer job of
    // its lane or by cancel(); what is the title it was started with.
    void cancelled(quint64 job, const QString &what);
    // No job is current in any lane any more.
    void idle();

private:
    struct Worker;
    struct Current {
        quint64 job = 0;
        QString what;
        std::shared_ptr<JobControl> control;
    };
    const Current &current(Lane lane) const { return m_current[int(lane)]; }
    Current *laneOf(quint64 job);
    bool cancelCurrent(Lane lane);
    void complete(quint64 job, JobApply apply, const QString &failure);
    void reportProgress(quint64 job, const QString &sentence);
    void workerEnded(Worker *worker);
    static void run(const std::shared_ptr<JobControl> &control, const JobWork &work);

    WebFactory m_webs;
    quint64 m_next = 1;
    Current m_current[LaneCount];
    QList<Worker *> m_workers;
    QThreadPool m_threads;
};

} // namespace chenglan
