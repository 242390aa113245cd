#include "support/ServerProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>

#include <arpa/inet.h>
#include <csignal>
#include <sys/prctl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace chenglan::testing {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

bool acceptsConnections(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

ServerProcess::ServerProcess(const QString &binary, const QStringList &arguments,
                             std::chrono::milliseconds startLimit) {
    const auto deadline = Clock::now() + startLimit;
    const QString program =
        QFileInfo(binary).isAbsolute() ? binary : QDir(QStringLiteral(CHENGLAN_BINARY_DIR)).filePath(binary);
    if (!QFileInfo(program).isExecutable()) {
        fail(QStringLiteral("no program at %1 (is it built?)").arg(program));
        return;
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that crashes never runs the destructor: the kernel ends the
    // server with it instead of leaving it listening.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start(program, QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    if (!m_process.waitForStarted(remainingMs(deadline))) {
        fail(QStringLiteral("cannot start %1: %2").arg(program, m_process.errorString()));
        return;
    }
    if (readPort(deadline) && !waitUntilAnswering(deadline))
        m_port = 0;
}

ServerProcess::~ServerProcess() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    // SIGTERM first: a program that stops on it leaves through its exit path,
    // where the sanitizer build checks it for leaks; one without a handler
    // simply ends on the signal. Any other end, such as a sanitizer report's
    // abort, fails the test that ran it.
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(10000);
        return;
    }
    const bool stopped = m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    const bool ended = m_process.exitStatus() == QProcess::CrashExit && m_process.exitCode() == SIGTERM;
    if (!stopped && !ended)
        ADD_FAILURE() << m_process.program().toStdString() << " did not stop cleanly: "
                      << (m_process.exitStatus() == QProcess::CrashExit ? "signal " : "exit code ")
                      << m_process.exitCode() << " (see its report above)";
}

QString ServerProcess::baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_port); }

QString ServerProcess::url(const QString &path) const {
    return baseUrl() + (path.startsWith(u'/') ? path.mid(1) : path);
}

QByteArray ServerProcess::readOutput() {
    m_process.waitForReadyRead(0);
    return m_process.readAllStandardOutput();
}

bool ServerProcess::readPort(Clock::time_point deadline) {
    static const QRegularExpression portLine(QStringLiteral(":(\\d+)\\s*$"));
    while (!m_process.canReadLine()) {
        if (m_process.state() == QProcess::NotRunning) {
            fail(QStringLiteral("the program exited (code %1) before saying where it listens")
                     .arg(m_process.exitCode()));
            return false;
        }
        if (remainingMs(deadline) == 0 || !m_process.waitForReadyRead(remainingMs(deadline))) {
            if (m_process.state() == QProcess::NotRunning)
                continue;
            fail(QStringLiteral("the program printed no port in time"));
            return false;
        }
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    const auto match = portLine.match(line);
    const int port = match.hasMatch() ? match.captured(1).toInt() : 0;
    if (port <= 0 || port > 65535) {
        fail(QStringLiteral("unexpected first line: %1").arg(line));
        return false;
    }
    m_port = quint16(port);
    return true;
}

bool ServerProcess::waitUntilAnswering(Clock::time_point deadline) {
    // A server prints its port once bound, so this normally succeeds at the
    // first attempt; a slower one gets until the deadline.
    while (!acceptsConnections(m_port)) {
        if (m_process.state() == QProcess::NotRunning
            || m_process.waitForFinished(std::min(20, remainingMs(deadline)))) {
            fail(QStringLiteral("the program exited (code %1) after printing its port").arg(m_process.exitCode()));
            return false;
        }
        if (remainingMs(deadline) == 0) {
            fail(QStringLiteral("nothing answers on port %1").arg(m_port));
            return false;
        }
    }
    return true;
}

void ServerProcess::fail(const QString &why) { m_error = why; }

} // namespace chenglan::testing
