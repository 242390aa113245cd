#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// An HTTP server whose connections are served by a fixed pool of worker
// threads. A connection that finds every worker busy and the short waiting
// line full is answered 503 at once, on the accepting thread, without reading
// its request. A request whose line, headers and body together exceed the
// byte limit is refused; so is one that does not arrive whole within the
// read timeout, however slowly its bytes trickle in, and an answer that
// cannot be written within the write timeout ends its connection. While
// connections wait for a worker, no connection is kept alive. A request
// whose framing could be read two ways (smuggling shapes) is refused before
// the library reads it, and every connection that ends after an answer is
// closed in stages, so that no answer already sent is lost to a reset.
namespace chenglan::dataservice {

struct BoundedServerOptions {
    std::size_t workers = 8;
    std::size_t maxWaiting = 16;
    std::size_t maxRequestBytes = 64 * 1024;
    std::size_t keepAliveMaxRequests = 100;
    std::chrono::milliseconds keepAliveTimeout{2000};
    // A whole request, from its first byte (for the first request of a
    // connection: from when it was accepted, waiting for a worker included).
    std::chrono::milliseconds readTimeout{5000};
    // A whole answer, from its first byte.
    std::chrono::milliseconds writeTimeout{5000};
    // Connections the kernel holds until they are accepted.
    int listenBacklog = 1024;
    // Workers run this much nicer than the thread that accepts (and refuses).
    int workerNiceness = 5;
};

class LingeringCloser;

class BoundedHttpServer : public httplib::Server {
public:
    explicit BoundedHttpServer(BoundedServerOptions options);
    ~BoundedHttpServer() override;

    // Binds 127.0.0.1 (port 0: any free one) with the options' backlog.
    // Returns the port, or 0.
    int bindLoopback(int port) { return bindAddress("127.0.0.1", port); }
    // The same on any address (a numeric IPv4 or IPv6 address, or a name).
    int bindAddress(const std::string &host, int port);

    // Runs before a request's body is read (the body of a declared size
    // above the byte limit has been refused by then).
    void setPreRouting(HandlerWithResponse handler) { m_preRouting = std::move(handler); }
    // Runs for every error answer that the server itself did not explain.
    void setErrorHandler(HandlerWithResponse handler) { m_errorHandler = std::move(handler); }

    // Runs for every request the server refuses itself, before or instead
    // of the library: busy (503, on the accepting thread), too slow (408),
    // too large (413, 414, 431), malformed framing (400, 501, 505). Called
    // from the workers and the accepting thread at once.
    using RefusalObserver = std::function<void(int status, std::string_view reason)>;
    void setRefusalObserver(RefusalObserver observer) { m_refusalObserver = std::move(observer); }

    // Connections answered 503 because every worker was busy.
    std::size_t refusedConnections() const { return m_refused.load(); }

    // Told of every answer: the request path ("" when the request could not
    // be read) and the status; and of every connection refused as busy. Set
    // before listening; called on the thread that answered.
    using AnswerObserver = std::function<void(const std::string &path, int status)>;
    void setAnswerObserver(AnswerObserver observer) { m_answerObserver = std::move(observer); }
    void setBusyObserver(std::function<void()> observer) { m_busyObserver = std::move(observer); }

private:
    bool process_and_close_socket(socket_t sock) override;
    void refuse(socket_t sock);
    std::size_t waitingConnections() const;

    BoundedServerOptions m_options;
    HandlerWithResponse m_preRouting;
    HandlerWithResponse m_errorHandler;
    RefusalObserver m_refusalObserver;
    AnswerObserver m_answerObserver;
    std::function<void()> m_busyObserver;
    std::atomic<std::size_t> m_refused{0};
    std::atomic<const httplib::TaskQueue *> m_pool{nullptr};
    std::unique_ptr<LingeringCloser> m_closer;
};

} // namespace chenglan::dataservice
