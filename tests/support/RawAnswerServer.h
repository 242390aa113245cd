#pragma once

#include <QByteArray>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace chenglan::testing {

// A server on 127.0.0.1 (a port the system picks) that answers each
// connection with exact bytes, however malformed, then closes it: for
// answers no HTTP library would send (two lengths, status 999, a cut-off
// gzip stream). The answer function gets the request head ("GET /x
// HTTP/1.1\r\n...") and returns the bytes to send. One connection at a
// time, on its own thread; a client that stops reading only ends its answer.
class RawAnswerServer {
public:
    using Answer = std::function<QByteArray(const QByteArray &requestHead)>;

    explicit RawAnswerServer(Answer answer) : m_answer(std::move(answer)) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(m_listener, 16) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { acceptLoop(); });
    }
    ~RawAnswerServer() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listener >= 0)
            ::close(m_listener);
    }
    RawAnswerServer(const RawAnswerServer &) = delete;
    RawAnswerServer &operator=(const RawAnswerServer &) = delete;

    bool ok() const { return m_port != 0; }
    QString url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path); }
    int connections() const { return m_connections; }

    // The target of a request head: "/x" of "GET /x HTTP/1.1".
    static QByteArray target(const QByteArray &head) {
        const QList<QByteArray> words = head.left(head.indexOf('\r')).split(' ');
        return words.size() >= 2 ? words[1] : QByteArray();
    }

private:
    static constexpr int kPollMs = 50;
    static constexpr qsizetype kMaxHead = 64 * 1024;
    static constexpr int kHeadWaitMs = 5000;

    void acceptLoop() {
        while (!m_stop) {
            pollfd waiting{m_listener, POLLIN, 0};
            if (::poll(&waiting, 1, kPollMs) <= 0)
                continue;
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            ++m_connections;
            serve(client);
            ::close(client);
        }
    }

    void serve(int client) {
        QByteArray head;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHeadWaitMs);
        while (!head.contains("\r\n\r\n") && head.size() < kMaxHead && !m_stop
               && std::chrono::steady_clock::now() < until) {
            pollfd readable{client, POLLIN, 0};
            if (::poll(&readable, 1, kPollMs) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            head.append(buffer, n);
        }
        const QByteArray answer = m_answer(head);
        qsizetype sent = 0;
        while (sent < answer.size() && !m_stop) {
            const ssize_t n = ::send(client, answer.constData() + sent, size_t(answer.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += n;
        }
        ::shutdown(client, SHUT_WR);
        // Let the client read to the end before the socket closes (a close
        // with unread input would send a reset and lose the answer's tail).
        const auto lingerUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHeadWaitMs);
        while (!m_stop && std::chrono::steady_clock::now() < lingerUntil) {
            pollfd readable{client, POLLIN, 0};
            if (::poll(&readable, 1, kPollMs) <= 0)
                continue;
            char buffer[4096];
            if (::recv(client, buffer, sizeof buffer, 0) <= 0)
                return;
        }
    }

    Answer m_answer;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

} // namespace chenglan::testing
