#include "BoundedHttpServer.h"

#include "RequestHead.h"

#include <arpa/inet.h>
#include <fcntl.h>
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
// After a connection's last answer what the client still sends is read and
// dropped for at most this long (and this much), so that closing does not
// reset the connection before the client has read the answer.
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
// It holds a request's head until it has been checked, and follows a chunked
// body as the library reads it.
class LimitedSocketStream : public httplib::Stream {
public:
    enum class Head { Whole, Closed, TimedOut, TooLarge, BareLineEnd };

    LimitedSocketStream(int sock, const BoundedServerOptions &options) : m_sock(sock), m_options(options) {}

    // A request starts; its bytes must all arrive before `deadline`.
    void startRequest(Clock::time_point deadline) {
        m_consumed = 0;
        m_readDeadline = deadline;
        m_sawLineEnd = false;
        m_timedOut = false;
        m_peerClosed = false;
        m_writing = false;
        m_written = 0;
        m_bodyStart = 0;
        m_contentLength = 0;
        m_chunked = false;
        m_framingFault = 0;
    }
    bool exhausted() const { return m_consumed >= m_options.maxRequestBytes; }
    bool timedOut() const { return m_timedOut; }
    bool sawLineEnd() const { return m_sawLineEnd; }
    bool answered() const { return m_written > 0; }
    bool hasBuffered() const { return m_pos < m_buffer.size(); }
    // 0, or the status a broken chunked body is refused with.
    int framingFault() const { return m_framingFault; }

    // Reads until the request line and headers are whole, without handing
    // them on; `head` then shows them, up to and including the empty line.
    // Empty lines before the request line are skipped (and counted).
    Head bufferHead(std::string_view &head) {
        std::size_t scanned = m_pos;
        for (;;) {
            while (scanned == m_pos && m_buffer.size() - m_pos >= 2 && m_buffer[m_pos] == '\r'
                   && m_buffer[m_pos + 1] == '\n') {
                m_pos += 2;
                m_consumed += 2;
                scanned = m_pos;
            }
            for (; scanned < m_buffer.size(); ++scanned) {
                if (m_buffer[scanned] != '\n')
                    continue;
                m_sawLineEnd = true;
                if (scanned == m_pos || m_buffer[scanned - 1] != '\r')
                    return Head::BareLineEnd;
                if (scanned - m_pos >= 3 && m_buffer[scanned - 2] == '\n') {
                    head = std::string_view(m_buffer).substr(m_pos, scanned + 1 - m_pos);
                    m_bodyStart = m_consumed + head.size();
                    return Head::Whole;
                }
            }
            if (m_consumed + (m_buffer.size() - m_pos) >= m_options.maxRequestBytes)
                return Head::TooLarge;
            const std::size_t offset = scanned - m_pos; // fill() may move the unread bytes
            if (!fill())
                return m_timedOut ? Head::TimedOut : Head::Closed;
            scanned = m_pos + offset;
        }
    }

    // The head was accepted: the body that follows is followed as it is read.
    void expectBody(const RequestHeadCheck &check) {
        m_chunked = check.chunked;
        m_contentLength = check.contentLength;
        m_framing = ChunkedFraming(m_options.maxRequestBytes);
    }
    // The request declared a body that was not read to its end: what is left
    // of it must not be read as the next request.
    bool bodyUnread() const {
        return m_chunked ? !m_framing.complete() : m_consumed < m_bodyStart + m_contentLength;
    }

    // Reads the rest of a body of declared length; false when it does not
    // come within the request's bounds, or the body is chunked.
    bool skipUnreadBody() {
        char scratch[4096];
        while (!m_chunked && m_consumed < m_bodyStart + m_contentLength) {
            const std::size_t left = std::size_t(m_bodyStart + m_contentLength - m_consumed);
            if (read(scratch, std::min(left, sizeof scratch)) <= 0)
                return false;
        }
        return !bodyUnread();
    }

    bool is_readable() const override { return hasBuffered() || waitFor(m_sock, POLLIN, remaining(m_readDeadline)); }
    bool is_writable() const override {
        return waitFor(m_sock, POLLOUT, m_writing ? remaining(m_writeDeadline) : m_options.writeTimeout);
    }

    ssize_t read(char *ptr, size_t size) override {
        if (m_consumed >= m_options.maxRequestBytes || m_framingFault)
            return -1;
        size = std::min(size, m_options.maxRequestBytes - m_consumed);
        if (!hasBuffered() && !fill())
            return m_peerClosed ? 0 : -1;
        const std::size_t n = std::min(size, m_buffer.size() - m_pos);
        std::memcpy(ptr, m_buffer.data() + m_pos, n);
        if (!m_sawLineEnd && std::memchr(ptr, '\n', n))
            m_sawLineEnd = true;
        // The library reads a chunked body byte-exactly; each byte is checked
        // before it sees it.
        if (m_chunked && m_consumed + n > m_bodyStart) {
            const std::size_t before = m_consumed < m_bodyStart ? m_bodyStart - m_consumed : 0;
            if (!m_framing.feed(ptr + before, n - before)) {
                m_framingFault = m_framing.failureStatus();
                return -1;
            }
        }
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

    // Appends what the socket has, waiting for it until the request's deadline.
    bool fill() {
        if (m_pos == m_buffer.size()) {
            m_buffer.clear();
            m_pos = 0;
        } else if (m_pos >= kReadChunk) {
            m_buffer.erase(0, m_pos);
            m_pos = 0;
        }
        if (!waitFor(m_sock, POLLIN, remaining(m_readDeadline))) {
            m_timedOut = true;
            return false;
        }
        const std::size_t had = m_buffer.size();
        m_buffer.resize(had + kReadChunk);
        ssize_t n;
        do {
            n = ::recv(m_sock, m_buffer.data() + had, kReadChunk, 0);
        } while (n < 0 && errno == EINTR);
        m_buffer.resize(had + std::size_t(std::max<ssize_t>(n, 0)));
        m_peerClosed = n == 0;
        return n > 0;
    }

    static constexpr std::size_t kReadChunk = 16384;

    int m_sock;
    const BoundedServerOptions &m_options;
    std::string m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_consumed = 0;
    Clock::time_point m_readDeadline;
    bool m_sawLineEnd = false;
    bool m_timedOut = false;
    bool m_peerClosed = false;
    bool m_writing = false;
    Clock::time_point m_writeDeadline;
    std::size_t m_written = 0;
    // Where the body starts, in the request's bytes, and how it is framed.
    std::size_t m_bodyStart = 0;
    std::uint64_t m_contentLength = 0;
    bool m_chunked = false;
    ChunkedFraming m_framing;
    int m_framingFault = 0;
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

// A short plain answer that closes the connection, for a request refused
// before the library read it.
std::string closingAnswer(int status, std::string_view text) {
    const char *phrase = status == 400   ? "Bad Request"
                         : status == 408 ? "Request Timeout"
                         : status == 413 ? "Payload Too Large"
                         : status == 414 ? "URI Too Long"
                         : status == 431 ? "Request Header Fields Too Large"
                         : status == 501 ? "Not Implemented"
                         : status == 505 ? "HTTP Version Not Supported"
                                         : "Error";
    return "HTTP/1.1 " + std::to_string(status) + " " + phrase + "\r\nContent-Type: text/plain\r\nContent-Length: " +
           std::to_string(text.size() + 1) + "\r\nConnection: close\r\n\r\n" + std::string(text) + "\n";
}

} // namespace

// Connections whose last answer went out: their sending side is shut, and
// what the client still sends (requests it pipelined behind that answer, the
// rest of a refused one) is read and dropped until the client closes too, at
// most kLingerTime and kLingerBytes, so that closing does not reset the
// connection under answers the client has not read yet. All on one thread of
// their own: a worker does not wait for its client to close.
class LingeringCloser {
public:
    LingeringCloser() {
        if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            m_wake[0] = m_wake[1] = -1;
        else
            m_thread = std::thread([this] { run(); });
    }
    ~LingeringCloser() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        wake();
        if (m_thread.joinable())
            m_thread.join();
        for (const Entry &e : m_incoming)
            ::close(e.sock);
        for (int fd : m_wake)
            if (fd >= 0)
                ::close(fd);
    }

    void close(int sock) {
        ::shutdown(sock, SHUT_WR);
        {
            std::lock_guard lock(m_mutex);
            if (!m_stop && m_thread.joinable() && m_count + m_incoming.size() < kMaxLingering) {
                m_incoming.push_back(Entry{sock, Clock::now() + kLingerTime, 0});
                wake();
                return;
            }
        }
        ::close(sock); // too many already: closed at once
    }

private:
    struct Entry {
        int sock;
        Clock::time_point until;
        std::size_t dropped;
    };

    void wake() {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &byte, 1);
    }

    void run() {
        std::vector<Entry> entries;
        std::vector<pollfd> polled;
        char scratch[16384];
        for (;;) {
            {
                std::lock_guard lock(m_mutex);
                if (m_stop)
                    break;
                entries.insert(entries.end(), m_incoming.begin(), m_incoming.end());
                m_incoming.clear();
                m_count = entries.size();
            }
            auto next = Clock::now() + std::chrono::seconds(1);
            polled.assign(1, pollfd{m_wake[0], POLLIN, 0});
            for (const Entry &e : entries) {
                polled.push_back(pollfd{e.sock, POLLIN, 0});
                next = std::min(next, e.until);
            }
            if (::poll(polled.data(), nfds_t(polled.size()), int(remaining(next).count()) + 1) < 0 && errno != EINTR)
                break;
            if (polled[0].revents)
                while (::read(m_wake[0], scratch, sizeof scratch) > 0) {
                }
            const auto now = Clock::now();
            std::size_t kept = 0;
            for (std::size_t i = 0; i < entries.size(); ++i) {
                Entry &e = entries[i];
                bool done = now >= e.until;
                if (!done && polled[i + 1].revents) {
                    for (;;) {
                        const ssize_t n = ::recv(e.sock, scratch, sizeof scratch, MSG_DONTWAIT);
                        if (n > 0 && (e.dropped += std::size_t(n)) < kLingerBytes)
                            continue;
                        done = n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
                        break;
                    }
                }
                if (done)
                    ::close(e.sock);
                else
                    entries[kept++] = e;
            }
            entries.resize(kept);
        }
        for (const Entry &e : entries)
            ::close(e.sock);
    }

    // Beyond this many at once, a connection is closed without lingering.
    static constexpr std::size_t kMaxLingering = 1024;

    int m_wake[2] = {-1, -1};
    std::mutex m_mutex;
    std::vector<Entry> m_incoming;
    std::size_t m_count = 0;
    bool m_stop = false;
    std::thread m_thread;
};

BoundedHttpServer::~BoundedHttpServer() = default;

BoundedHttpServer::BoundedHttpServer(BoundedServerOptions options)
    : m_options(std::move(options)), m_closer(std::make_unique<LingeringCloser>()) {
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
        if (t_stream && res.status == 400 && t_stream->framingFault()) {
            res.status = t_stream->framingFault();
            res.set_content(res.status == 400 ? "malformed chunked body\n" : "request too large\n", "text/plain");
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
    if (m_refusalObserver)
        m_refusalObserver(503, "busy");
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
    // Once an answer went out, the connection is closed in stages: requests
    // the client pipelined behind it are read and dropped, not left unread,
    // since closing over unread bytes resets the connection and the client
    // can lose answers it has not read yet.
    bool linger = false;
    const auto refuseHere = [&](int status, std::string_view reason) {
        sendAll(sock, closingAnswer(status, reason), Clock::now() + m_options.writeTimeout);
        if (m_refusalObserver)
            m_refusalObserver(status, reason);
        if (m_answerObserver)
            m_answerObserver(std::string(), status);
        linger = true;
    };
    for (std::size_t served = 0; served < m_options.keepAliveMaxRequests; ++served) {
        // The first request has the read timeout from when the connection was
        // accepted, so time spent waiting for a worker counts. The first byte
        // of a request is waited for in short slices, so that stop() is not
        // held up, for at most the keep-alive time. A kept-alive connection
        // gives its worker up to a connection that waits, but only once it has
        // been idle a whole slice: right after an answer the client's next
        // request is most likely on its way, and closing then would lose it.
        Clock::time_point arrived = t_acceptedAt;
        bool ready = stream.hasBuffered();
        for (auto waited = std::chrono::milliseconds(0); !ready && waited < m_options.keepAliveTimeout;
             waited += kStopCheckInterval) {
            if (svr_sock_ == INVALID_SOCKET)
                break;
            if (served > 0 && waited >= kStopCheckInterval && waitingConnections() > 0) {
                ready = waitFor(sock, POLLIN, std::chrono::milliseconds(0)); // one that just came is served
                break;
            }
            ready = waitFor(sock, POLLIN, std::min(kStopCheckInterval, m_options.keepAliveTimeout - waited));
        }
        if (!ready || svr_sock_ == INVALID_SOCKET)
            break;
        if (served > 0)
            arrived = Clock::now();
        stream.startRequest(arrived + m_options.readTimeout);

        // The request line and headers are checked whole before the library
        // reads them.
        std::string_view head;
        const auto got = stream.bufferHead(head);
        using Head = LimitedSocketStream::Head;
        if (got == Head::Closed)
            break;
        if (got == Head::TimedOut) {
            refuseHere(408, "request not complete in time");
            break;
        }
        if (got == Head::TooLarge) {
            refuseHere(stream.sawLineEnd() ? 431 : 414, "request too large");
            break;
        }
        const RequestHeadCheck check =
            got == Head::BareLineEnd ? RequestHeadCheck{400, "a line does not end in CR LF"} : checkRequestHead(head);
        if (check.status != 0) {
            refuseHere(check.status, check.reason);
            break;
        }
        stream.expectBody(check);

        t_closeAfterResponse = false;
        const bool last = served + 1 == m_options.keepAliveMaxRequests || waitingConnections() > 0;
        bool connectionClosed = false;
        ok = process_request(stream, last, connectionClosed, nullptr);
        if (!ok && !stream.answered() && (stream.timedOut() || stream.exhausted() || stream.framingFault())) {
            refuseHere(stream.timedOut() ? 408 : stream.framingFault() ? stream.framingFault() : 431,
                       stream.timedOut() ? "request not complete in time"
                       : stream.framingFault() == 400 ? "malformed chunked body"
                                                      : "request too large");
            break;
        }
        linger = ok && stream.answered();
        // After an error answer, or an answer given without reading the whole
        // body (a GET with one, say), what follows on the connection is not
        // a request. A body of declared length is read past; a chunked one
        // ends the connection.
        if (t_closeAfterResponse || stream.exhausted() || (stream.bodyUnread() && !stream.skipUnreadBody()))
            break;
        if (!ok || connectionClosed || last)
            break;
        linger = false;
    }
    t_stream = nullptr;
    if (linger) {
        m_closer->close(sock);
        return ok;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

} // namespace chenglan::dataservice
