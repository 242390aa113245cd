#include "support/FaultProxy.h"

#include "base/Step.h"
#include "net/HttpFetch.h"

#include <QList>
#include <QStringEncoder>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace chenglan::testing {

namespace {

using Clock = std::chrono::steady_clock;

// Waits up to ms for fd to become readable (or closed); false on timeout.
bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

// Reads what is there; 0 at the end of the stream, -1 on error or timeout.
qsizetype readSome(int fd, QByteArray &into, int ms) {
    if (!readable(fd, ms))
        return -1;
    char buffer[16384];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0)
        into.append(buffer, n);
    return n < 0 ? -1 : n;
}

bool sendAll(int fd, QByteArrayView bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

struct Message {
    QByteArray startLine;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    bool complete = false;

    QByteArray header(QByteArrayView name) const {
        for (const auto &h : headers)
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        return {};
    }
    void setHeader(const QByteArray &name, const QByteArray &value) {
        removeHeader(name);
        headers.append({name, value});
    }
    void removeHeader(QByteArrayView name) {
        headers.removeIf([&](const auto &h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
    }
    QByteArray head() const {
        QByteArray out = startLine + "\r\n";
        for (const auto &h : headers)
            out += h.first + ": " + h.second + "\r\n";
        return out + "\r\n";
    }
};

// Reads one HTTP message: the head, then a body of Content-Length bytes, or
// (untilClose) up to the end of the stream.
Message readMessage(int fd, bool untilClose, int ms) {
    Message m;
    QByteArray data;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    const auto left = [&] {
        return int(std::max<qint64>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
    };
    qsizetype headEnd = -1;
    while ((headEnd = data.indexOf("\r\n\r\n")) < 0) {
        if (readSome(fd, data, left()) <= 0 || data.size() > 1024 * 1024)
            return m;
    }
    const QList<QByteArray> lines = data.left(headEnd).split('\n');
    m.startLine = lines.value(0).trimmed();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            m.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    m.body = data.mid(headEnd + 4);
    const QByteArray length = m.header("Content-Length");
    if (!length.isEmpty()) {
        const qsizetype want = length.toLongLong();
        while (m.body.size() < want)
            if (readSome(fd, m.body, left()) <= 0)
                return m;
        m.body.truncate(want);
    } else if (untilClose) {
        for (;;) {
            const qsizetype n = readSome(fd, m.body, left());
            if (n == 0)
                break;
            if (n < 0)
                return m;
        }
    }
    m.complete = true;
    return m;
}

int connectTo(const QByteArray &host, quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.constData(), &address.sin_addr) != 1
        || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

QByteArray errorPage() {
    return QStringLiteral("<html><head><title>500 服务器内部错误</title></head><body><h1>服务器内部错误</h1>"
                          "<p>Server Error in '/' Application.</p></body></html>")
        .toUtf8();
}

} // namespace

const char *faultName(Fault fault) {
    switch (fault) {
    case Fault::None: return "None";
    case Fault::ResetMidBody: return "ResetMidBody";
    case Fault::Stall: return "Stall";
    case Fault::ServerError: return "ServerError";
    case Fault::Oversize: return "Oversize";
    case Fault::GbAsUtf8: return "GbAsUtf8";
    case Fault::InvalidBytes: return "InvalidBytes";
    case Fault::Truncated: return "Truncated";
    case Fault::Empty: return "Empty";
    }
    return "?";
}

FaultProxy::FaultProxy(const QString &upstreamBase) {
    const QUrl upstream(upstreamBase);
    m_upstreamHost = upstream.host().toLatin1();
    m_upstreamPort = quint16(upstream.port());
    if (m_upstreamHost.isEmpty() || upstream.port() <= 0) {
        m_error = QStringLiteral("no upstream host and port in \"%1\"").arg(upstreamBase);
        return;
    }
    if (!openListener(0))
        return;
    m_acceptor = std::thread([this] { acceptLoop(); });
}

FaultProxy::~FaultProxy() {
    m_stop = true;
    if (m_acceptor.joinable())
        m_acceptor.join();
    closeListener();
    std::vector<std::thread> workers;
    {
        const std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
    }
    for (std::thread &t : workers)
        t.join();
}

QString FaultProxy::baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_port); }

QString FaultProxy::url(const QString &path) const {
    return baseUrl() + (path.startsWith(u'/') ? path.mid(1) : path);
}

void FaultProxy::inject(const QString &part, Fault fault, int skip) {
    const std::lock_guard lock(m_mutex);
    m_rules.push_back({part.toUtf8(), fault, skip});
}

void FaultProxy::clear() {
    {
        const std::lock_guard lock(m_mutex);
        m_rules.clear();
    }
    m_faultsServed = 0;
    refuseConnections(false);
}

void FaultProxy::refuseConnections(bool refuse) {
    const std::lock_guard lock(m_mutex);
    if (refuse)
        closeListener();
    else if (m_listener < 0 && m_port != 0)
        openListener(m_port);
}

bool FaultProxy::openListener(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        m_error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_listener = fd;
    return true;
}

// The accept loop may be polling the listener while it is closed, and its
// poll keeps the socket alive (still listening) until it returns: on a loaded
// machine long enough for a client to connect and never be answered. shutdown
// takes the socket out of the listening state at once, so connections are
// refused from this moment; the poll then wakes and the loop sees no listener.
void FaultProxy::closeListener() {
    const int fd = m_listener.exchange(-1);
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
}

void FaultProxy::acceptLoop() {
    while (!m_stop) {
        int client = -1;
        {
            const std::lock_guard lock(m_mutex);
            const int fd = m_listener;
            if (fd >= 0)
                client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (client < 0) {
            const int fd = m_listener;
            if (fd >= 0)
                readable(fd, 20);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        const int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const std::lock_guard lock(m_mutex);
        m_workers.emplace_back([this, client] { serve(client); });
    }
}

Fault FaultProxy::faultFor(const QByteArray &target) {
    const std::lock_guard lock(m_mutex);
    for (Rule &rule : m_rules) {
        if (!target.contains(rule.part))
            continue;
        if (rule.skip > 0) {
            --rule.skip;
            return Fault::None;
        }
        if (rule.fault != Fault::None)
            ++m_faultsServed;
        return rule.fault;
    }
    return Fault::None;
}

void FaultProxy::serve(int client) {
    Message request = readMessage(client, false, 10000);
    if (!request.complete) {
        ::close(client);
        return;
    }
    const QByteArray target = request.startLine.split(' ').value(1);
    const Fault fault = faultFor(target);

    Message answer;
    answer.complete = true;
    if (fault == Fault::ServerError) {
        answer.startLine = "HTTP/1.1 500 Internal Server Error";
        answer.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        answer.body = errorPage();
    } else if (fault == Fault::Oversize) {
        answer.startLine = "HTTP/1.1 200 OK";
        answer.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        answer.body = "<html><body>" + QByteArray(m_oversizeBytes, 'x') + "</body></html>";
    } else {
        // One connection per request upstream, and no compression, so that
        // the body can be changed.
        request.setHeader("Connection", "close");
        request.removeHeader("Accept-Encoding");
        const int upstream = connectTo(m_upstreamHost, m_upstreamPort);
        if (upstream < 0 || !sendAll(upstream, request.head() + request.body))
            answer.complete = false;
        else
            answer = readMessage(upstream, true, 30000);
        if (upstream >= 0)
            ::close(upstream);
        if (!answer.complete) {
            ::close(client);
            return;
        }
    }

    QByteArray &body = answer.body;
    const qsizetype half = body.size() / 2;
    switch (fault) {
    case Fault::GbAsUtf8:
        try {
            const QString text = decodePage(body, answer.header("Content-Type"));
            QStringEncoder gb("GB18030");
            body = gb.encode(text);
        } catch (const StepFailure &) {
        }
        answer.setHeader("Content-Type", "text/html; charset=utf-8");
        break;
    case Fault::InvalidBytes:
        body.insert(half, "\xFF\xFF");
        break;
    case Fault::Empty:
        body.clear();
        break;
    default:
        break;
    }
    answer.removeHeader("Transfer-Encoding");
    answer.setHeader("Connection", "close");
    if (fault == Fault::Oversize)
        answer.removeHeader("Content-Length"); // the body ends with the connection
    else
        answer.setHeader("Content-Length", QByteArray::number(body.size()));

    switch (fault) {
    case Fault::ResetMidBody: {
        sendAll(client, answer.head() + body.left(half));
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // let the client read the start
        const linger reset{1, 0};
        ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(client);
        return;
    }
    case Fault::Stall: {
        sendAll(client, answer.head() + body.left(half));
        const auto until = Clock::now() + m_stallLimit.load();
        QByteArray ignored;
        while (!m_stop && Clock::now() < until) {
            if (readable(client, 20) && readSome(client, ignored, 0) <= 0)
                break; // the client gave up
            ignored.clear();
        }
        ::close(client);
        return;
    }
    case Fault::Truncated:
        sendAll(client, answer.head() + body.left(half));
        break;
    default:
        sendAll(client, answer.head() + body);
        break;
    }
    // An orderly close: no unread bytes left behind that would turn it into a reset.
    ::shutdown(client, SHUT_WR);
    QByteArray rest;
    while (readSome(client, rest, 1000) > 0 && rest.size() < 1024 * 1024) {
    }
    ::close(client);
}

} // namespace chenglan::testing
