#pragma once

#include "net/Web.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <mutex>

class QObject;

namespace chenglan {

// The bounds of every exchange. A bound that is hit fails the fetch with a
// sentence saying which.
struct FetchLimits {
    // The whole exchange, redirects included. Qt's own transfer timeout only
    // fires while no bytes move, so a server that trickles needs this one.
    std::chrono::milliseconds deadline{20000};
    // Body bytes read at most; reading stops as soon as the answer is longer.
    qint64 maxBody = 16 * 1024 * 1024;
    // Redirects followed at most. A redirect from https to http is never followed.
    int maxRedirects = 5;
};

// The real network: QNetworkAccessManager, used synchronously inside the
// calling thread (a local event loop runs while the exchange lasts, so the
// thread needs no event loop of its own, but the process needs a
// QCoreApplication). abort() may be called from any thread.
class QtWeb : public Web {
public:
    explicit QtWeb(FetchLimits limits = {});
    ~QtWeb() override;

    FetchOutcome fetch(const HttpRequest &request) override;
    void abort() override;

    const FetchLimits &limits() const { return m_limits; }

private:
    FetchLimits m_limits;
    std::atomic<bool> m_aborted{false};
    bool m_started = false;       // a fetch ran: the thread's connections are this instance's
    std::mutex m_mutex;           // guards m_running
    QObject *m_running = nullptr; // the exchange in progress, in the fetching thread
};

} // namespace chenglan
