#include "BoundedHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace chenglan::dataservice {

namespace {

// Set on the accepting thread while it runs a connection it refuses: the
// queue hands the connection back instead of keeping it.
thread_local bool t_refusing = false;
// Set when a response was an error: the rest of what the client sent on that
// connection (an oversized body, the tail of a header flood) is not read as
// further requests, the connection is closed instead.
thread_local bool t_closeAfterResponse = false;

constexpr std::chrono::milliseconds kStopCheckInterval{50};

bool waitFor(int sock, short events, std::chrono::milliseconds timeout) {
    pollfd pfd{sock, events, 0};
    for (;;) {
        const int n = ::poll(&pfd, 1, int(timeout.count()));
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0;
    }
}

// Fixed workers and a short waiting line; beyond it, refusal.
class WorkerPool : public httplib::TaskQueue {
public:
    explicit WorkerPool(const BoundedServerOptions &options)
        : m_maxWaiting(options.maxWaiting), m_idle(std::max<std::size_t>(options.workers, 1)) {
        for (std::size_t i = 0; i < m_idle; ++i)
            m_threads.emplace_back([this] { work(); });
    }

    void enqueue(std::function<void()> fn) override {
        {
            std::unique_lock lock(m_mutex);
            if (!m_shutdown && m_jobs.size() < m_idle + m_maxWaiting) {
                m_jobs.push_back(std::move(fn));
                m_wake.notify_one();
                return;
            }
        }
        t_refusing = true;
        fn();
        t_refusing = false;
    }

    void shutdown() override {
        {
            std::lock_guard lock(m_mutex);
            m_shutdown = true;
        }
        m_wake.notify_all();
        for (auto &t : m_threads)
            t.join();
    }

private:
    // A worker counts as idle whenever it is not running a connection, also
    // while it is still starting, so that the first connections are not
    // refused before the workers are up.
    void work() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return !m_jobs.empty() || m_shutdown; });
            if (m_jobs.empty())
                return;
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            --m_idle;
            lock.unlock();
            job();
            lock.lock();
            ++m_idle;
        }
    }

    std::size_t m_maxWaiting;
    std::size_t m_idle;
    std::vector<std::thread> m_threads;
    std::deque<std::function<void()>> m_jobs;
    bool m_shutdown = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
};

// A socket stream that buffers reads and stops reading once a request has
// used up its byte allowance.
class LimitedSocketStream : public httplib::Stream {
public:
    LimitedSocketStream(int sock, const BoundedServerOptions &options) : m_sock(sock), m_options(options) {}

    void startRequest() { m_consumed = 0; }
    bool exhausted() const { return m_consumed >= m_options.maxRequestBytes; }
    bool hasBuffered() const { return m_pos < m_len; }

    bool is_readable() const override { return hasBuffered() || waitFor(m_sock, POLLIN, m_options.readTimeout); }
    bool is_writable() const override { return waitFor(m_sock, POLLOUT, m_options.writeTimeout); }

    ssize_t read(char *ptr, size_t size) override {
        if (m_consumed >= m_options.maxRequestBytes)
            return -1;
        size = std::min(size, m_options.maxRequestBytes - m_consumed);
        if (!hasBuffered()) {
            if (!waitFor(m_sock, POLLIN, m_options.readTimeout))
                return -1;
            ssize_t n;
            do {
                n = ::recv(m_sock, m_buffer, sizeof m_buffer, 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0)
                return n < 0 ? -1 : 0;
            m_pos = 0;
            m_len = std::size_t(n);
        }
        const std::size_t n = std::min(size, m_len - m_pos);
        std::memcpy(ptr, m_buffer + m_pos, n);
        m_pos += n;
        m_consumed += n;
        return ssize_t(n);
    }

    ssize_t write(const char *ptr, size_t size) override {
        if (!is_writable())
            return -1;
        ssize_t n;
        do {
            n = ::send(m_sock, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (::getpeername(m_sock, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
            describe(addr, ip, port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (::getsockname(m_sock, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
            describe(addr, ip, port);
    }
    socket_t socket() const override { return m_sock; }

private:
    static void describe(const sockaddr_storage &addr, std::string &ip, int &port) {
        char text[INET6_ADDRSTRLEN] = {};
        if (addr.ss_family == AF_INET) {
            const auto *in = reinterpret_cast<const sockaddr_in *>(&addr);
            ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
            port = ntohs(in->sin_port);
        } else if (addr.ss_family == AF_INET6) {
            const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&addr);
            ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
            port = ntohs(in6->sin6_port);
        }
        ip = text;
    }

    int m_sock;
    const BoundedServerOptions &m_options;
    char m_buffer[4096];
    std::size_t m_pos = 0;
    std::size_t m_len = 0;
    std::size_t m_consumed = 0;
};

} // namespace

BoundedHttpServer::BoundedHttpServer(BoundedServerOptions options) : m_options(std::move(options)) {
    new_task_queue = [this] { return new WorkerPool(m_options); };
    set_payload_max_length(m_options.maxRequestBytes);
    // Only for the Keep-Alive header the responses carry.
    set_keep_alive_max_count(m_options.keepAliveMaxRequests);
    set_keep_alive_timeout(std::max<time_t>(1, time_t(std::chrono::duration_cast<std::chrono::seconds>(
                                                          m_options.keepAliveTimeout).count())));
    set_logger([](const httplib::Request &, const httplib::Response &res) {
        if (res.status >= 400)
            t_closeAfterResponse = true;
    });
}

void BoundedHttpServer::refuse(socket_t sock) {
    ++m_refused;
    static const char kBusy[] = "HTTP/1.1 503 Service Unavailable\r\n"
                                "Content-Type: text/plain\r\n"
                                "Content-Length: 5\r\n"
                                "Connection: close\r\n"
                                "\r\n"
                                "busy\n";
    ::send(sock, kBusy, sizeof kBusy - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(sock, SHUT_WR);
    // Whatever already arrived is read, so closing does not reset the
    // connection under the answer.
    char scratch[4096];
    for (int i = 0; i < 16 && ::recv(sock, scratch, sizeof scratch, MSG_DONTWAIT) > 0; ++i) {
    }
    ::close(sock);
}

bool BoundedHttpServer::process_and_close_socket(socket_t sock) {
    if (t_refusing) {
        refuse(sock);
        return true;
    }
    // Headers and body go out in separate writes; without this the body can
    // wait for the client's delayed acknowledgement.
    const int on = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    LimitedSocketStream stream(sock, m_options);
    bool ok = true;
    for (std::size_t served = 0; served < m_options.keepAliveMaxRequests; ++served) {
        // Wait for the next request in short slices, so that stop() is not
        // held up by idle connections.
        bool ready = stream.hasBuffered();
        for (auto waited = std::chrono::milliseconds(0); !ready && waited < m_options.keepAliveTimeout;
             waited += kStopCheckInterval) {
            if (svr_sock_ == INVALID_SOCKET)
                break;
            ready = waitFor(sock, POLLIN, std::min(kStopCheckInterval, m_options.keepAliveTimeout - waited));
        }
        if (!ready || svr_sock_ == INVALID_SOCKET)
            break;
        stream.startRequest();
        t_closeAfterResponse = false;
        const bool last = served + 1 == m_options.keepAliveMaxRequests;
        bool connectionClosed = false;
        ok = process_request(stream, last, connectionClosed, nullptr);
        if (!ok || connectionClosed || t_closeAfterResponse || stream.exhausted())
            break;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

} // namespace chenglan::dataservice
