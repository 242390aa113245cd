#pragma once

#include "app/JobRunner.h"
#include "net/QtWeb.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace chenglan::testing {

// A site the jobs' Webs share, safe to use from worker threads: pages by
// address, addresses whose fetches are held until released or aborted, and
// a switch that takes the whole site down. With passThrough, an address the
// site has no page for is fetched from the network (the sample servers), so
// that a real click can be held at one page.
class TestSite {
public:
    void passThrough() {
        const std::lock_guard lock(m_s->mutex);
        m_s->passThrough = true;
    }
    // Holds every address containing part until the fetch is aborted.
    void holdContaining(const QString &part) {
        const std::lock_guard lock(m_s->mutex);
        m_s->heldParts.append(part);
    }
    void page(const QString &url, const QString &body, int status = 200) {
        const std::lock_guard lock(m_s->mutex);
        m_s->pages.insert(url, {status, body.toUtf8()});
    }
    void hold(const QString &url) {
        const std::lock_guard lock(m_s->mutex);
        m_s->held.insert(url);
    }
    void release(const QString &url) {
        {
            const std::lock_guard lock(m_s->mutex);
            m_s->held.remove(url);
        }
        m_s->changed.notify_all();
    }
    void setDown(bool down) {
        const std::lock_guard lock(m_s->mutex);
        m_s->down = down;
    }
    QStringList requests() const {
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
        return [s = m_s]() -> std::unique_ptr<Web> { return std::make_unique<SiteWeb>(s); };
    }

private:
    struct Shared {
        mutable std::mutex mutex;
        std::condition_variable changed;
        QHash<QString, QPair<int, QByteArray>> pages;
        QSet<QString> held;
        QStringList heldParts;
        bool passThrough = false;
        bool down = false;
        QStringList requests;
        int waiting = 0;
        int aborted = 0;
    };

    class SiteWeb : public Web {
    public:
        explicit SiteWeb(std::shared_ptr<Shared> s) : m_s(std::move(s)) {}
        FetchOutcome fetch(const HttpRequest &request) override {
            std::unique_lock lock(m_s->mutex);
            m_s->requests.append(request.url);
            ++m_s->waiting;
            m_s->changed.wait(lock, [&] { return m_aborted || !held(request.url); });
            --m_s->waiting;
            if (m_aborted) {
                ++m_s->aborted;
                return FetchOutcome::failed(FetchOutcome::Failure::Aborted, QStringLiteral("aborted"));
            }
            const auto it = m_s->pages.constFind(request.url);
            if (!m_s->down && it == m_s->pages.constEnd() && m_s->passThrough) {
                lock.unlock();
                return m_network.fetch(request);
            }
            if (m_s->down || it == m_s->pages.constEnd())
                return FetchOutcome::failed(FetchOutcome::Failure::Network, QStringLiteral("Connection refused"));
            HttpResponse r;
            r.status = it->first;
            r.body = it->second;
            r.contentType = "text/html; charset=utf-8";
            r.finalUrl = request.url;
            return FetchOutcome::success(r);
        }
        void abort() override {
            {
                const std::lock_guard lock(m_s->mutex);
                m_aborted = true;
            }
            m_s->changed.notify_all();
            m_network.abort();
        }

    private:
        bool held(const QString &url) const {
            if (m_s->held.contains(url))
                return true;
            for (const QString &part : std::as_const(m_s->heldParts))
                if (url.contains(part))
                    return true;
            return false;
        }

        std::shared_ptr<Shared> m_s;
        QtWeb m_network;
        bool m_aborted = false;
    };

    std::shared_ptr<Shared> m_s = std::make_shared<Shared>();
};

} // namespace chenglan::testing
