#pragma once

#include <httplib.h>

#include <QString>

#include <thread>

namespace chenglan::testing {

// A cpp-httplib server on 127.0.0.1 at a port the system picks, running in
// its own thread for the lifetime of the object. Register the routes on
// server() before start().
class LocalServer {
public:
    LocalServer() = default;
    ~LocalServer() { stop(); }

    httplib::Server &server() { return m_server; }

    void start() {
        // Bound and listening from here on: a client that connects before
        // the accept loop runs waits in the backlog.
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    void stop() {
        if (!m_thread.joinable())
            return;
        while (!m_server.is_running())
            std::this_thread::yield();
        m_server.stop();
        m_thread.join();
    }

    int port() const { return m_port; }
    QString url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path); }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
};

} // namespace chenglan::testing
