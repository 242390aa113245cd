#pragma once

#include "net/Web.h"

#include <QHash>
#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>

namespace chenglan::testing {

// A Web that answers each method and address with the outcomes the test
// scripted for it, in order, then the last one again; for answers that change
// between two fetches (a 429 then the page) or carry their own headers. An
// address without a script fails like a refused connection.
class ScriptedWeb : public Web {
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    void then(const QString &url, FetchOutcome outcome, HttpRequest::Method method = HttpRequest::Method::Get) {
        const std::lock_guard lock(m_mutex);
        m_script[key(method, url)].append(std::move(outcome));
    }
    void then(const QString &url, int status, const QByteArray &body, Headers headers = {},
              HttpRequest::Method method = HttpRequest::Method::Get) {
        HttpResponse r;
        r.status = status;
        r.body = body;
        for (const auto &[name, value] : headers)
            if (name.compare("Content-Type", Qt::CaseInsensitive) == 0)
                r.contentType = value;
        r.headers = std::move(headers);
        r.finalUrl = url;
        then(url, FetchOutcome::success(std::move(r)), method);
    }

    FetchOutcome fetch(const HttpRequest &request) override {
        if (onFetch)
            onFetch(request);
        const std::lock_guard lock(m_mutex);
        requests.append(request.url);
        if (aborted)
            return FetchOutcome::failed(FetchOutcome::Failure::Aborted, QStringLiteral("aborted"));
        const QString k = key(request.method, request.url);
        const auto it = m_script.constFind(k);
        if (it == m_script.constEnd() || it->isEmpty())
            return FetchOutcome::failed(FetchOutcome::Failure::Network,
                                        QStringLiteral("connection refused: %1").arg(request.url));
        qsizetype &turn = m_turn[k];
        const FetchOutcome outcome = it->at(std::min(turn, it->size() - 1));
        ++turn;
        return outcome;
    }
    void abort() override { aborted = true; }

    std::function<void(const HttpRequest &)> onFetch; // runs before each answer, e.g. to move a test clock
    QStringList requests;
    std::atomic<bool> aborted = false;

private:
    static QString key(HttpRequest::Method method, const QString &url) {
        return (method == HttpRequest::Method::Post ? QStringLiteral("POST ") : QStringLiteral("GET ")) + url;
    }

    std::mutex m_mutex;
    QHash<QString, QList<FetchOutcome>> m_script;
    QHash<QString, qsizetype> m_turn;
};

} // namespace chenglan::testing
