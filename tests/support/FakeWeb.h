#pragma once

#include "net/Web.h"

#include <QHash>
#include <QStringList>

namespace chenglan::testing {

// A Web that answers from pages the test gives it, and records what was asked.
// An address it does not know fails like a refused connection.
class FakeWeb : public Web {
public:
    void add(const QString &url, const QByteArray &body, int status = 200,
             const QByteArray &contentType = "text/html") {
        HttpResponse r;
        r.status = status;
        r.body = body;
        r.contentType = contentType;
        r.headers.append({"Content-Type", contentType});
        r.finalUrl = url;
        m_pages.insert(url, r);
    }
    void fail(const QString &url, const QString &why) { m_failures.insert(url, why); }

    FetchOutcome fetch(const HttpRequest &request) override {
        requests.append(request.url);
        methods.append(request.method);
        if (m_aborted)
            return FetchOutcome::failed(FetchOutcome::Failure::Aborted, QStringLiteral("aborted"));
        if (m_failures.contains(request.url))
            return FetchOutcome::failed(FetchOutcome::Failure::Network, m_failures.value(request.url));
        const auto it = m_pages.constFind(request.url);
        if (it == m_pages.constEnd())
            return FetchOutcome::failed(FetchOutcome::Failure::Network,
                                        QStringLiteral("connection refused: %1").arg(request.url));
        return FetchOutcome::success(*it);
    }
    void abort() override { m_aborted = true; }

    QStringList requests;
    QList<HttpRequest::Method> methods;

private:
    QHash<QString, HttpResponse> m_pages;
    QHash<QString, QString> m_failures;
    bool m_aborted = false;
};

} // namespace chenglan::testing
