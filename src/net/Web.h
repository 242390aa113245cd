#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace chenglan {

// One HTTP exchange, as the steps need it. The concrete client (QtWeb) bounds
// every exchange in time and size; tests substitute a Web that serves
// recorded pages.
struct HttpRequest {
    enum class Method { Get, Post };
    Method method = Method::Get;
    QString url;
    QList<QPair<QByteArray, QByteArray>> headers;
    // Time this fetch already spent before the exchange (waiting for its
    // turn, a repeat after Retry-After). A client's time bound counts it, so
    // that the whole fetch, waits and repeat included, keeps to one bound.
    std::chrono::milliseconds spent{0};
    // Whether the answer can still change. The client decides it from what it
    // knows of the page (a finished match's page is final), never from the
    // site's headers; a page cache keeps only final answers for good.
    enum class Lifetime { Changing, Final };
    Lifetime lifetime = Lifetime::Changing;
    // Asked ahead of the user (fetching ahead of a click): a changing answer
    // is held briefly for the click that follows.
    bool ahead = false;
};

struct HttpResponse {
    int status = 0;
    QByteArray body;
    QByteArray contentType;                       // the Content-Type header, as sent
    QList<QPair<QByteArray, QByteArray>> headers; // all response headers
    QString finalUrl;                             // after redirects
    bool fromCache = false;                       // served by a page cache, not by the site
};

// Either a response or a sentence saying why there is none.
struct FetchOutcome {
    enum class Failure { None, Network, Timeout, TooLarge, Redirect, Aborted, BadUrl };
    std::optional<HttpResponse> response;
    Failure failure = Failure::None;
    QString error;

    bool ok() const { return response.has_value(); }
    static FetchOutcome success(HttpResponse r) { return {std::move(r), Failure::None, {}}; }
    static FetchOutcome failed(Failure f, QString why) { return {std::nullopt, f, std::move(why)}; }
};

// The network as the steps see it. One instance belongs to one job on one
// thread; abort() may be called from any thread and makes the running and
// every later fetch of this instance fail with Failure::Aborted.
class Web {
public:
    virtual ~Web() = default;
    virtual FetchOutcome fetch(const HttpRequest &request) = 0;
    virtual void abort() = 0;
};

// Makes a Web for one job, or one thread of a job: each caller gets its own
// client, which lives and dies with the thread that uses it.
using WebFactory = std::function<std::unique_ptr<Web>()>;

} // namespace chenglan
