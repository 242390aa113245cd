#pragma once

#include "base/AnalysisState.h"
#include "net/PoliteWeb.h"
#include "net/SiteBases.h"
#include "net/Web.h"

#include <QList>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

namespace chenglan {

// After a user's fetch ends, fetching ahead waits this long before its next
// request, so that it never slips in between the fetches of one command.
inline constexpr std::chrono::milliseconds kUserQuiet{300};

// Lets fetching ahead wait while the user's commands fetch. The user's Webs
// report each fetch (UserWeb); fetching ahead asks before each request.
// Thread-safe.
class UserFirstGate {
public:
    explicit UserFirstGate(std::chrono::milliseconds quiet = kUserQuiet) : m_quiet(quiet) {}

    void userFetchStarted();
    void userFetchEnded();
    // Blocks until no user fetch runs and the last one ended at least the
    // quiet time ago. False when `stop` was raised meanwhile.
    bool waitForQuiet(StopSignal &stop);

private:
    std::chrono::milliseconds m_quiet;
    std::mutex m_mutex;
    int m_running = 0;
    std::chrono::steady_clock::time_point m_lastEnd{};
};

// A user's Web: passes every fetch on and tells the gate while it runs.
class UserWeb : public Web {
public:
    UserWeb(std::unique_ptr<Web> inner, std::shared_ptr<UserFirstGate> gate)
        : m_inner(std::move(inner)), m_gate(std::move(gate)) {}
    FetchOutcome fetch(const HttpRequest &request) override;
    void abort() override { m_inner->abort(); }

private:
    std::unique_ptr<Web> m_inner;
    std::shared_ptr<UserFirstGate> m_gate;
};

// How far fetching ahead got with the list on screen.
struct AheadProgress {
    int done = 0;  // pages asked for (or found kept already)
    int total = 0; // the listed matches' pages, then their extension pages as they become known
    bool finished = false;
};

// Fetches ahead what the user is likely to click: when a list is shown, the
// analysis pages of its listed matches, then the pages that extend both
// teams' histories, in list order. One request at a time (so never more than
// one per site), through its own Web (the window's kind: polite pace, the
// shared page cache), on a thread of the lowest priority, and only while the
// user's commands are not fetching. Pages that are final are kept in the
// page cache; the match's own page, while it can still change, is held for
// the one click that follows (see PageCache::holdAhead). A new list cancels
// the fetching for the old one at once.
class Prefetcher {
public:
    using ProgressHook = std::function<void(const AheadProgress &)>;

    // makeWeb gives the Web of one list, made on the fetching thread: the
    // window's kind (polite pace, the shared page cache), not a UserWeb.
    Prefetcher(WebFactory makeWeb, SiteBases bases, std::shared_ptr<UserFirstGate> gate);
    ~Prefetcher();
    Prefetcher(const Prefetcher &) = delete;
    Prefetcher &operator=(const Prefetcher &) = delete;

    // Off: start() does nothing and a running fetch ahead is cancelled.
    void setEnabled(bool enabled);
    bool enabled() const;
    void setSiteBases(const SiteBases &bases);
    // Called on the fetching thread after every page.
    void setProgressHook(ProgressHook hook);

    // Fetches ahead for the listed matches of this schedule (rows whose flag
    // is 1), cancelling what runs for an earlier list.
    void start(const ScheduleState &schedule);
    void cancel();
    // Blocks until the current list is done or cancelled (tests, the bench).
    void waitIdle();

private:
    struct Work {
        QList<Value> matchIds;
        QList<bool> settled; // the match's own page is final
    };
    void loop();
    void runList(const Work &work, quint64 generation, Web &ahead, StopSignal &stop);
    bool current(quint64 generation) const;

    WebFactory m_makeWeb;
    std::shared_ptr<UserFirstGate> m_gate;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    SiteBases m_bases;
    ProgressHook m_hook;
    bool m_enabled = true;
    bool m_quit = false;
    bool m_busy = false;
    quint64 m_generation = 0;
    std::optional<Work> m_pending;
    Web *m_running = nullptr;           // the Web of the list being fetched
    std::shared_ptr<StopSignal> m_stop; // raised to end that list's waits
    QThread *m_thread = nullptr;
};

} // namespace chenglan
