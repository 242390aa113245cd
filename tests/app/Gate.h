#pragma once
// A real network client whose fetches of chosen addresses (any address
// containing a text) are held until released or aborted, so that a job can
// be caught while it runs.
#include "net/QtWeb.h"

#include <QStringList>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace chenglan::testing {

class Gate {
public:
    void hold(const QString &part) {
        const std::lock_guard lock(m_s->mutex);
        m_s->held.append(part);
    }
    // Lets the held fetches of part, and later ones, go through.
    void release(const QString &part) {
        {
            const std::lock_guard lock(m_s->mutex);
            m_s->held.removeAll(part);
        }
        m_s->changed.notify_all();
    }
    // Fetches of addresses containing part fail as if the site were down.
    void fail(const QString &part) {
        const std::lock_guard lock(m_s->mutex);
        m_s->failing.append(part);
    }
    void heal() {
        const std::lock_guard lock(m_s->mutex);
        m_s->failing.clear();
    }
    int requests() const {
        const std::lock_guard lock(m_s->mutex);
        return m_s->requests;
    }
    int waiting() const {
        const std::lock_guard lock(m_s->mutex);
        return m_s->waiting;
    }
    int aborted() const {
        const std::lock_guard lock(m_s->mutex);
        return m_s->aborted;
    }
    WebFactory factory() const {
        return [s = m_s]() -> std::unique_ptr<Web> { return std::make_unique<GatedWeb>(s); };
    }

private:
    struct Shared {
        mutable std::mutex mutex;
        std::condition_variable changed;
        QStringList held;
        QStringList failing;
        int requests = 0;
        int waiting = 0;
        int aborted = 0;

        bool holds(const QString &url) const {
            for (const QString &part : held)
                if (url.contains(part))
                    return true;
            return false;
        }
    };
    class GatedWeb : public Web {
    public:
        explicit GatedWeb(std::shared_ptr<Shared> s) : m_s(std::move(s)) {}
        FetchOutcome fetch(const HttpRequest &request) override {
            {
                std::unique_lock lock(m_s->mutex);
                ++m_s->requests;
                if (m_s->holds(request.url)) {
                    ++m_s->waiting;
                    m_s->changed.wait(lock, [&] { return m_aborted || !m_s->holds(request.url); });
                    --m_s->waiting;
                    if (m_aborted) {
                        ++m_s->aborted;
                        return FetchOutcome::failed(FetchOutcome::Failure::Aborted, QStringLiteral("aborted"));
                    }
                }
                for (const QString &part : std::as_const(m_s->failing))
                    if (request.url.contains(part))
                        return FetchOutcome::failed(FetchOutcome::Failure::Network,
                                                    QStringLiteral("Connection refused"));
            }
            return m_inner.fetch(request);
        }
        void abort() override {
            {
                const std::lock_guard lock(m_s->mutex);
                m_aborted = true;
            }
            m_s->changed.notify_all();
            m_inner.abort();
        }

    private:
        std::shared_ptr<Shared> m_s;
        QtWeb m_inner;
        bool m_aborted = false;
    };
    std::shared_ptr<Shared> m_s = std::make_shared<Shared>();
};

} // namespace chenglan::testing
