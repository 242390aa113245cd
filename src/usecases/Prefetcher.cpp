#include "usecases/Prefetcher.h"

#include "sites/HistoryParsing.h"
#include "base/Columns.h"
#include "base/Step.h"
#include "sites/AnalysisPage.h"
#include "net/HttpFetch.h"
#include "net/PageCache.h"
#include "sites/PageFinality.h"
#include "html/PageRenderer.h"

#include <QSet>
#include <QThread>

namespace chenglan {

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait behind a running user fetch looks again.
constexpr std::chrono::milliseconds kGatePoll{20};
constexpr int kListedFlag = 1;

// The match the extension of one team's history reads: column 15 of its
// oldest listed match, as the analysis picks it.
void addExtension(const Table &history, QList<Value> &ids, QSet<QString> &seen) {
    attempt([&] {
        const Value id = history.at(history::MatchIdColumn, history.lastRow());
        if (!id.text().isEmpty() && !seen.contains(id.text())) {
            seen.insert(id.text());
            ids.append(id);
        }
    });
}

} // namespace

void UserFirstGate::userFetchStarted() {
    const std::lock_guard lock(m_mutex);
    ++m_running;
}

void UserFirstGate::userFetchEnded() {
    const std::lock_guard lock(m_mutex);
    --m_running;
    m_lastEnd = Clock::now();
}

bool UserFirstGate::waitForQuiet(StopSignal &stop) {
    for (;;) {
        Clock::time_point until;
        {
            const std::lock_guard lock(m_mutex);
            const auto now = Clock::now();
            if (m_running == 0 && now - m_lastEnd >= m_quiet)
                return !stop.raised();
            until = m_running > 0 ? now + kGatePoll : m_lastEnd + m_quiet;
        }
        if (!stop.waitUntil(until))
            return false;
    }
}

FetchOutcome UserWeb::fetch(const HttpRequest &request) {
    m_gate->userFetchStarted();
    FetchOutcome outcome = m_inner->fetch(request);
    m_gate->userFetchEnded();
    return outcome;
}

Prefetcher::Prefetcher(WebFactory makeWeb, SiteBases bases, std::shared_ptr<UserFirstGate> gate)
    : m_makeWeb(std::move(makeWeb)), m_gate(std::move(gate)), m_bases(std::move(bases)) {
    m_thread = QThread::create([this] { loop(); });
    m_thread->start(QThread::LowestPriority);
}

Prefetcher::~Prefetcher() {
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    cancel();
    m_changed.notify_all();
    m_thread->wait();
    delete m_thread;
}

void Prefetcher::setEnabled(bool enabled) {
    {
        const std::lock_guard lock(m_mutex);
        m_enabled = enabled;
    }
    if (!enabled)
        cancel();
}

bool Prefetcher::enabled() const {
    const std::lock_guard lock(m_mutex);
    return m_enabled;
}

void Prefetcher::setSiteBases(const SiteBases &bases) {
    const std::lock_guard lock(m_mutex);
    m_bases = bases;
}

void Prefetcher::setProgressHook(ProgressHook hook) {
    const std::lock_guard lock(m_mutex);
    m_hook = std::move(hook);
}

void Prefetcher::start(const ScheduleState &schedule) {
    Work work;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int row = 0; row < schedule.matchTable.rows() && row < schedule.matchRowFlags.size(); ++row) {
        if (!schedule.matchRowFlags.at(row).equals(kListedFlag))
            continue;
        const Value id = schedule.matchTable.at(matchtable::MatchIdField, row);
        if (id.text().isEmpty())
            continue;
        work.matchIds.append(id);
        work.settled.append(listedAnalysisPageSettled(schedule.matchTable, row, now));
    }
    const std::lock_guard lock(m_mutex);
    ++m_generation;
    if (m_running)
        m_running->abort();
    if (m_stop)
        m_stop->raise();
    m_pending.reset();
    if (m_enabled && !m_quit && !work.matchIds.isEmpty())
        m_pending = std::move(work);
    m_changed.notify_all(); // the thread takes the list; waitIdle() sees one dropped
}

void Prefetcher::cancel() {
    const std::lock_guard lock(m_mutex);
    ++m_generation;
    m_pending.reset();
    m_changed.notify_all();
    if (m_running)
        m_running->abort();
    if (m_stop)
        m_stop->raise();
}

void Prefetcher::waitIdle() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_busy && !m_pending; });
}

bool Prefetcher::current(quint64 generation) const {
    const std::lock_guard lock(m_mutex);
    return generation == m_generation && !m_quit;
}

void Prefetcher::loop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_busy = false;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_quit || m_pending.has_value(); });
        if (m_quit)
            return;
        const Work work = std::move(*m_pending);
        m_pending.reset();
        const quint64 generation = m_generation;
        m_busy = true;
        lock.unlock();
        // The Web lives in this thread, as every Web lives in the thread that fetches.
        std::unique_ptr<Web> web = m_makeWeb();
        auto stop = std::make_shared<StopSignal>();
        lock.lock();
        m_running = web.get();
        m_stop = stop;
        if (generation != m_generation)
            web->abort(); // cancelled while the Web was made
        lock.unlock();
        try {
            MarkingWeb ahead(*web, MarkingWeb::Mark::Ahead);
            runList(work, generation, ahead, *stop);
        } catch (const StepFailure &) {
            // Cancelled: a newer list or a closing window took over.
        }
        lock.lock();
        m_running = nullptr;
        m_stop.reset();
        lock.unlock();
        web.reset();
        lock.lock();
    }
}

void Prefetcher::runList(const Work &work, quint64 generation, Web &ahead, StopSignal &stop) {
    SiteBases bases;
    ProgressHook hook;
    {
        const std::lock_guard lock(m_mutex);
        bases = m_bases;
        hook = m_hook;
    }
    AheadProgress progress;
    progress.total = int(work.matchIds.size());
    const auto report = [&] {
        if (hook && current(generation))
            hook(progress);
    };
    const auto mayAsk = [&] { return current(generation) && m_gate->waitForQuiet(stop) && current(generation); };

    // The listed matches' own pages first: the next click needs one of them.
    const PageRenderer renderer;
    MarkingWeb final(ahead, MarkingWeb::Mark::Final);
    QList<Value> extensions;
    QSet<QString> seen;
    for (qsizetype i = 0; i < work.matchIds.size(); ++i) {
        if (!mayAsk())
            return;
        AnalysisState page;
        page.analysisData =
            analysispage::load(work.settled[i] ? static_cast<Web &>(final) : ahead, bases, renderer, work.matchIds[i]);
        attempt([&] { parseTeamHistories(page); });
        addExtension(page.homeHistory, extensions, seen);
        addExtension(page.awayHistory, extensions, seen);
        ++progress.done;
        progress.total = int(work.matchIds.size() + extensions.size());
        report();
    }
    // Then the pages that extend their histories: final, so kept for good.
    for (const Value &id : extensions) {
        if (!mayAsk())
            return;
        final.fetch(pageGet(analysispage::url(bases, id)));
        ++progress.done;
        report();
    }
    progress.finished = true;
    report();
}

} // namespace chenglan
