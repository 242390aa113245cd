#pragma once

#include "SampleSite.h"

#include <chrono>
#include <cstddef>
#include <memory>

namespace httplib {
class Server;
}

namespace chenglan::sample {

// The limits of the HTTP server, in one place (quoted in README.md).
struct ServerLimits {
    std::chrono::seconds readTimeout{5};
    std::chrono::seconds writeTimeout{5};
    std::chrono::seconds keepAliveTimeout{5};
    std::size_t keepAliveRequests = 1000; // per connection
    std::size_t payloadBytes = 64 * 1024; // request bodies; the site reads none
};

// The sample site behind HTTP on 127.0.0.1: every path answers GET, POST and
// HEAD from the SampleSite.
class SiteServer {
public:
    explicit SiteServer(const SampleSite &site, ServerLimits limits = {});
    ~SiteServer();
    SiteServer(const SiteServer &) = delete;
    SiteServer &operator=(const SiteServer &) = delete;

    // Binds 127.0.0.1:`port` (0: any free port) and returns the bound port,
    // or -1 when the port cannot be had.
    int bind(int port);
    // Serves until stop(); returns false when it could not serve.
    bool listen();
    void stop();

private:
    std::unique_ptr<httplib::Server> m_server;
};

} // namespace chenglan::sample
