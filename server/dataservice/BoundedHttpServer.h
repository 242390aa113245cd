#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>

// An HTTP server whose connections are served by a fixed pool of worker
// threads. A connection that finds every worker busy and the short waiting
// line full is answered 503 at once, on the accepting thread, without reading
// its request. A request whose line, headers and body together exceed the
// byte limit is cut off.
namespace chenglan::dataservice {

struct BoundedServerOptions {
    std::size_t workers = 8;
    std::size_t maxWaiting = 16;
    std::size_t maxRequestBytes = 64 * 1024;
    std::size_t keepAliveMaxRequests = 100;
    std::chrono::milliseconds keepAliveTimeout{2000};
    std::chrono::milliseconds readTimeout{5000};
    std::chrono::milliseconds writeTimeout{5000};
};

class BoundedHttpServer : public httplib::Server {
public:
    explicit BoundedHttpServer(BoundedServerOptions options);

    // Connections answered 503 because every worker was busy.
    std::size_t refusedConnections() const { return m_refused.load(); }

private:
    bool process_and_close_socket(socket_t sock) override;
    void refuse(socket_t sock);

    BoundedServerOptions m_options;
    std::atomic<std::size_t> m_refused{0};
};

} // namespace chenglan::dataservice
