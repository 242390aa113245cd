#pragma once

#include "net/Web.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace chenglan {

// Least time between the starts of two requests to one real site.
inline constexpr std::chrono::milliseconds kHostGap{200};
// Least time between requests to this machine (the sample site, test servers).
inline constexpr std::chrono::milliseconds kLoopbackGap{0};
// Total time one fetch may take, waits included; the client bounds each
// exchange the same way.
inline constexpr std::chrono::milliseconds kFetchTimeBound{20000};

// A flag another thread raises to end a wait at once.
class StopSignal {
public:
    void raise();
    bool raised() const;
    // Blocks until `until` (for ever when unset) or until raised; true when the
    // time came, false when raised.
    bool waitUntil(std::optional<std::chrono::steady_clock::time_point> until);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_raised;
    bool m_flag = false;
};

// The time the spacing reads and the way it waits; tests substitute a clock
// that advances only when told, so they never sleep.
class PoliteClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~PoliteClock() = default;
    virtual TimePoint now() const = 0;
    // The wall clock, for a Retry-After date when the answer carries no Date.
    virtual QDateTime utcNow() const = 0;
    // Waits until `until` or until `stop` is raised; false when stopped.
    virtual bool sleepUntil(TimePoint until, StopSignal &stop) = 0;
};

// The real clocks.
class SystemPoliteClock : public PoliteClock {
public:
    TimePoint now() const override;
    QDateTime utcNow() const override;
    bool sleepUntil(TimePoint until, StopSignal &stop) override;
};

// The least time between the starts of two requests to one host.
struct HostSpacing {
    std::chrono::milliseconds gap = kHostGap;
    std::chrono::milliseconds loopbackGap = kLoopbackGap;
};

// When each host may next be asked. One schedule serves every Web of a
// process (pass the same object to each PoliteWeb), so concurrent jobs are
// spaced together. Thread-safe.
class HostSchedule {
public:
    explicit HostSchedule(HostSpacing spacing = {}, std::shared_ptr<PoliteClock> clock = {});

    PoliteClock &clock() const { return *m_clock; }
    std::chrono::milliseconds gapFor(const QString &host) const;

    // Takes the earliest start for a request to `host`: now, or the gap after
    // the last start taken, or the end of a hold, whichever is latest. When
    // that is after `latest` nothing is taken and the start it would have
    // been is returned in *wouldBe.
    std::optional<PoliteClock::TimePoint> reserve(const QString &host, PoliteClock::TimePoint latest,
                                                  PoliteClock::TimePoint *wouldBe = nullptr);
    // Holds every request to `host` until `until` (the site asked to retry later).
    void holdUntil(const QString &host, PoliteClock::TimePoint until);

private:
    HostSpacing m_spacing;
    std::shared_ptr<PoliteClock> m_clock;
    mutable std::mutex m_mutex;
    QHash<QString, PoliteClock::TimePoint> m_next;
};

// True for 127.0.0.0/8, ::1 and "localhost".
bool isLoopbackHost(const QString &host);

// The delay a Retry-After value asks for: whole seconds, or an HTTP date
// taken against `now` (the answer's Date header, else the wall clock). A date
// in the past asks for no delay; a value that is neither gives nothing.
std::optional<std::chrono::milliseconds> parseRetryAfter(const QByteArray &value, const QDateTime &now);

// A wait the status bar can show.
struct HostWait {
    QString host;
    std::chrono::milliseconds duration{0};
    bool retryAfter = false; // the site asked for it, rather than the spacing
    QString text() const;    // "waiting on host example.org for 200 ms"
};
using HostWaitHook = std::function<void(const HostWait &)>;

// Spaces the requests of the Web it wraps by the host schedule, and repeats a
// request once when the site answers 429 or 503 with Retry-After, provided the
// repeat can start within the fetch's time bound; otherwise that answer is
// returned as it is. A wait longer than the bound fails with Timeout instead
// of starting late. Each exchange passed on carries in HttpRequest::spent the
// time the fetch has used so far, so the repeat gets only what is left of the
// bound. abort() ends a wait at once and is passed on.
class PoliteWeb : public Web {
public:
    PoliteWeb(Web &inner, std::shared_ptr<HostSchedule> schedule);
    PoliteWeb(std::unique_ptr<Web> inner, std::shared_ptr<HostSchedule> schedule);

    void setTimeBound(std::chrono::milliseconds bound) { m_bound = bound; }
    // Called on the fetching thread before each wait.
    void setWaitHook(HostWaitHook hook) { m_hook = std::move(hook); }

    FetchOutcome fetch(const HttpRequest &request) override;
    void abort() override;

private:
    enum class Turn { Go, Stopped, TooLate };
    Turn waitTurn(const QString &host, PoliteClock::TimePoint deadline, bool retryAfter,
                  PoliteClock::TimePoint *wouldBe);

    std::unique_ptr<Web> m_owned;
    Web &m_inner;
    std::shared_ptr<HostSchedule> m_schedule;
    std::chrono::milliseconds m_bound = kFetchTimeBound;
    HostWaitHook m_hook;
    StopSignal m_stop;
};

} // namespace chenglan
