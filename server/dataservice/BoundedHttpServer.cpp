#include "BoundedHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
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
// When the connection a worker runs was accepted.
thread_local std::chrono::steady_clock::time_point t_acceptedAt;

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kStopCheckInterval{50};
// After an error answer the rest of the request is read and dropped for at
// most this long (and this much), so that closing does not reset the
// connection before a client that is still sending has read the answer.
constexpr std::chrono::milliseconds kLingerTime{250};
constexpr std::size_t kLingerBytes = 2 * 1024 * 1024;

std::chrono::milliseconds remaining(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

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
    WorkerPool(const BoundedServerOptions &options, std::atomic<const httplib::TaskQueue *> &published)
        : m_maxWaiting(options.maxWaiting), m_idle(std::max<std::size_t>(options.workers, 1)),
          m_workerNiceness(options.workerNiceness), m_published(published) {
        for (std::size_t i = 0; i < m_idle; ++i)
            m_threads.emplace_back([this] { work(); });
        m_published = this;
    }
    ~WorkerPool() override { m_published = nullptr; }

    void enqueue(std::function<void()> fn) override {
        {
            std::unique_lock lock(m_mutex);
            if (!m_shutdown && m_jobs.size() < m_idle + m_maxWaiting) {
                m_jobs.push_back([fn = std::move(fn), accepted = Clock::now()] {
                    t_acceptedAt = accepted;
                    fn();
                });
                m_waiting = m_jobs.size() > m_idle ? m_jobs.size() - m_idle : 0;
                m_wake.notify_one();
                return;
            }
        }
        t_refusing = true;
        fn();
        t_refusing = false;
    }

    // Connections accepted that no worker has taken yet, beyond the idle ones.
    std::size_t waiting() const { return m_waiting.load(); }

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
        // Below the accepting thread, so that when the workers keep every
        // core busy, refusing the excess still happens at once.
        ::setpriority(PRIO_PROCESS, pid_t(::gettid()), ::getpriority(PRIO_PROCESS, 0) + m_workerNiceness);
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return !m_jobs.empty() || m_shutdown; });
            if (m_jobs.empty())
                return;
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            --m_idle;
            m_waiting = m_jobs.size() > m_idle ? m_jobs.size() - m_idle : 0;
            lock.unlock();
            job();
            lock.lock();
            ++m_idle;
            m_waiting = m_jobs.size() > m_idle ? m_jobs.size() - m_idle : 0;
        }
    }

    std::size_t m_maxWaiting;
    std::size_t m_idle;
    std::atomic<std::size_t> m_waiting{0};
    int m_workerNiceness;
    std::atomic<const httplib::TaskQueue *> &m_published;
    std::vector<std::thread> m_threads;
    std::deque<std::function<void()>> m_jobs;
    bool m_shutdown = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
};

// A socket stream that buffers reads, stops reading once a request has used
// up its byte allowance or its time, and gives an answer its time to go out.
class LimitedSocketStream : public httplib::Stream {
public:
    LimitedSocketStream(int sock, const BoundedServerOptions &options) : m_sock(sock), m_options(options) {}

    // A request starts; its bytes must all arrive before `deadline`.
    void startRequest(Clock::time_point deadline) {
        m_consumed = 0;
        m_readDeadline = deadline;
        m_sawLineEnd = false;
        m_timedOut = false;
        m_writing = false;
        m_written = 0;
    }
    bool exhausted() const { return m_consumed >= m_options.maxRequestBytes; }
    bool timedOut() const { return m_timedOut; }
    bool sawLineEnd() const { return m_sawLineEnd; }
    bool answered() const { return m_written > 0; }
    bool hasBuffered() const { return m_pos < m_len; }

    bool is_readable() const override { return hasBuffered() || waitFor(m_sock, POLLIN, remaining(m_readDeadline)); }
    bool is_writable() const override {
        return waitFor(m_sock, POLLOUT, m_writing ? remaining(m_writeDeadline) : m_options.writeTimeout);
    }

    ssize_t read(char *ptr, size_t size) override {
        if (m_consumed >= m_options.maxRequestBytes)
            return -1;
        size = std::min(size, m_options.maxRequestBytes - m_consumed);
        if (!hasBuffered()) {
            if (!waitFor(m_sock, POLLIN, remaining(m_readDeadline))) {
                m_timedOut = true;
                return -1;
            }
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
        if (!m_sawLineEnd && std::memchr(ptr, '\n', n))
            m_sawLineEnd = true;
        m_pos += n;
        m_consumed += n;
        return ssize_t(n);
    }

    ssize_t write(const char *ptr, size_t size) override {
        if (!m_writing) {
            m_writing = true;
            m_writeDeadline = Clock::now() + m_options.writeTimeout;
        }
        if (!waitFor(m_sock, POLLOUT, remaining(m_writeDeadline)))
            return -1;
        ssize_t n;
        do {
            n = ::send(m_sock, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            m_written += std::size_t(n);
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
    Clock::time_point m_readDeadline;
    bool m_sawLineEnd = false;
    bool m_timedOut = false;
    bool m_writing = false;
    Clock::time_point m_writeDeadline;
    std::size_t m_written = 0;
};

// The stream of the request this worker is reading, for the error handler.
thread_local const LimitedSocketStream *t_stream = nullptr;

// Sends a whole short answer within the time left, as far as the socket takes it.
void sendAll(int sock, std::string_view bytes, Clock::time_point deadline) {
    while (!bytes.empty() && waitFor(sock, POLLOUT, remaining(deadline))) {
        const ssize_t n = ::send(sock, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        bytes.remove_prefix(std::size_t(n));
    }
}

// The answer to a request that was refused before the library could answer
// it: it did not arrive in time, or its line or headers ran past the byte limit.
std::string refusalFor(const LimitedSocketStream &stream) {
    const char *status = stream.timedOut() ? "408 Request Timeout"
                         : stream.sawLineEnd() ? "431 Request Header Fields Too Large"
                                               : "414 URI Too Long";
    const char *text = stream.timedOut() ? "request not complete in time\n" : "request too large\n";
    return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
           std::to_string(std::strlen(text)) + "\r\nConnection: close\r\n\r\n" + text;
}

// Ends the sending side, then reads and drops what the client still sends,
// briefly, so that the close does not reset the connection under the answer.
void lingerAndClose(int sock) {
    ::shutdown(sock, SHUT_WR);
    const auto until = Clock::now() + kLingerTime;
    char scratch[16384];
    for (std::size_t dropped = 0; dropped < kLingerBytes && waitFor(sock, POLLIN, remaining(until));) {
        const ssize_t n = ::recv(sock, scratch, sizeof scratch, 0);
        if (n <= 0)
            break;
        dropped += std::size_t(n);
    }
    ::close(sock);
}

} // namespace

BoundedHttpServer::BoundedHttpServer(BoundedServerOptions options) : m_options(std::move(options)) {
    new_task_queue = [this] { return new WorkerPool(m_options, m_pool); };
    set_payload_max_length(m_options.maxRequestBytes);
    // Only for the Keep-Alive header the responses carry.
    set_keep_alive_max_count(m_options.keepAliveMaxRequests);
    set_keep_alive_timeout(std::max<time_t>(1, time_t(std::chrono::duration_cast<std::chrono::seconds>(
                                                          m_options.keepAliveTimeout).count())));
    set_logger([this](const httplib::Request &req, const httplib::Response &res) {
        if (res.status >= 400)
            t_closeAfterResponse = true;
        if (m_answerObserver)
            m_answerObserver(req.path, res.status);
    });
    // The library would read (and drop) a body above the payload limit before
    // answering 413, waiting for bytes a client may never send; it is refused
    // from its declared length instead.
    set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        if (req.has_header("Content-Length")) {
            const std::string declared = req.get_header_value("Content-Length");
            errno = 0;
            char *end = nullptr;
            const unsigned long long length = std::strtoull(declared.c_str(), &end, 10);
            if (declared.empty() || *end != '\0' || errno == ERANGE || length > m_options.maxRequestBytes) {
                const bool malformed = declared.empty() || *end != '\0';
                res.status = malformed ? 400 : 413;
                res.set_content(malformed ? "bad Content-Length\n" : "request too large\n", "text/plain");
                return HandlerResponse::Handled;
            }
        }
        return m_preRouting ? m_preRouting(req, res) : HandlerResponse::Unhandled;
    });
    // The library answers 400 to headers it could not read; say why when it
    // was the time or the size.
    set_error_handler(HandlerWithResponse([this](const httplib::Request &req, httplib::Response &res) {
        // The connection is closed after an error answer; the answer says so.
        auto &headers = const_cast<httplib::Request &>(req).headers;
        headers.erase("Connection");
        headers.emplace("Connection", "close");
        if (t_stream && res.status == 400 && (t_stream->timedOut() || t_stream->exhausted())) {
            res.status = t_stream->timedOut() ? 408 : 431;
            res.set_content(t_stream->timedOut() ? "request not complete in time\n" : "request too large\n",
                            "text/plain");
            return HandlerResponse::Handled;
        }
        return m_errorHandler ? m_errorHandler(req, res) : HandlerResponse::Unhandled;
    }));
}

int BoundedHttpServer::bindAddress(const std::string &host, int port) {
    const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : 0);
    if (bound <= 0)
        return 0;
    // The library listens with a backlog of 5; a burst of connections beyond
    // that would have its connection requests dropped and retried a second
    // later instead of being answered (or refused) at once.
    ::listen(svr_sock_, m_options.listenBacklog);
    return bound;
}

std::size_t BoundedHttpServer::waitingConnections() const {
    const auto *pool = static_cast<const WorkerPool *>(m_pool.load());
    return pool ? pool->waiting() : 0;
}

void BoundedHttpServer::refuse(socket_t sock) {
    ++m_refused;
    if (m_busyObserver)
        m_busyObserver();
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
    t_stream = &stream;
    bool ok = true;
    bool linger = false;
    for (std::size_t served = 0; served < m_options.keepAliveMaxRequests; ++served) {
        // The first request has the read timeout from when the connection was
        // accepted, so time spent waiting for a worker counts. The first byte
        // of a request is waited for in short slices, so that stop() is not
        // held up, for at most the keep-alive time; a kept-alive connection
        // also gives its worker up as soon as another connection waits.
        Clock::time_point arrived = t_acceptedAt;
        bool ready = stream.hasBuffered();
        for (auto waited = std::chrono::milliseconds(0); !ready && waited < m_options.keepAliveTimeout;
             waited += kStopCheckInterval) {
            if (svr_sock_ == INVALID_SOCKET || (served > 0 && waitingConnections() > 0))
                break;
            ready = waitFor(sock, POLLIN, std::min(kStopCheckInterval, m_options.keepAliveTimeout - waited));
        }
        if (!ready || svr_sock_ == INVALID_SOCKET)
            break;
        if (served > 0)
            arrived = Clock::now();
        stream.startRequest(arrived + m_options.readTimeout);
        t_closeAfterResponse = false;
        const bool last = served + 1 == m_options.keepAliveMaxRequests || waitingConnections() > 0;
        bool connectionClosed = false;
        ok = process_request(stream, last, connectionClosed, nullptr);
        if (!ok && !stream.answered() && (stream.timedOut() || stream.exhausted())) {
            const std::string refusal = refusalFor(stream);
            sendAll(sock, refusal, Clock::now() + m_options.writeTimeout);
            if (m_answerObserver)
                m_answerObserver(std::string(), std::atoi(refusal.c_str() + std::strlen("HTTP/1.1 ")));
            linger = true;
            break;
        }
        if (t_closeAfterResponse || stream.exhausted()) {
            linger = stream.answered();
            break;
        }
        if (!ok || connectionClosed || last)
            break;
    }
    t_stream = nullptr;
    if (linger) {
        lingerAndClose(sock);
        return ok;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

} // namespace chenglan::dataservice
