#include "script/ScriptEngineProcess.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>
#include <mutex>
#include <vector>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace chenglan {

namespace {

using Outcome = ScriptSandbox::Outcome;
using Clock = std::chrono::steady_clock;

// The child's end of the socket.
constexpr int ChildFd = 3;

// Frames: one byte of kind, four bytes of payload length (little endian),
// the payload. Texts are UTF-16 as QString holds them.
enum Kind : char {
    Replay = 'E',  // parent: a script to run again for its globals, before the next run
    Run = 'R',     // parent: outermost (1 byte), time limit in ms (4 bytes), the code
    Written = 'A', // parent: the written text is laid out; interrupt the script (1 byte)
    NewPage = 'N', // parent: drop the engine, make a fresh one for the next page
    Hello = 'H',   // child: started or fresh engine made (1 byte: ready)
    Write = 'W',   // child: document.write text
    Done = 'D',    // child: the run's outcome (1 byte)
};

// A payload bigger than this is a broken peer.
constexpr std::uint32_t MaxPayload = 512u * 1024 * 1024;

struct Frame {
    char kind = 0;
    QByteArray payload;
};

QByteArray frame(char kind, const QByteArray &payload) {
    QByteArray out;
    out.reserve(5 + payload.size());
    out.append(kind);
    const auto length = std::uint32_t(payload.size());
    for (int i = 0; i < 4; ++i)
        out.append(char((length >> (8 * i)) & 0xFF));
    out.append(payload);
    return out;
}

QByteArray utf16(const QString &text) {
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

QString fromUtf16(const QByteArray &bytes, qsizetype from = 0) {
    return QString(reinterpret_cast<const QChar *>(bytes.constData() + from), (bytes.size() - from) / 2);
}

std::uint32_t readU32(const QByteArray &bytes, qsizetype at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= std::uint32_t(std::uint8_t(bytes[at + i])) << (8 * i);
    return value;
}

// Reads and writes frames on a socket. The parent's side is non-blocking and
// waits with a deadline; the child's side blocks.
class Channel {
public:
    explicit Channel(int fd = -1) : m_fd(fd) {}

    void reset(int fd) {
        m_fd = fd;
        m_buffer.clear();
    }

    // False when the peer is gone or the deadline passed first.
    bool send(const QByteArray &bytes, std::optional<Clock::time_point> deadline = std::nullopt) {
        qsizetype at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
            if (n > 0) {
                at += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && wait(POLLOUT, deadline))
                continue;
            return false;
        }
        return true;
    }

    enum class Status { Ok, Closed, TimedOut };

    Status receive(Frame &out, std::optional<Clock::time_point> deadline = std::nullopt) {
        for (;;) {
            if (m_buffer.size() >= 5) {
                const std::uint32_t length = readU32(m_buffer, 1);
                if (length > MaxPayload)
                    return Status::Closed;
                if (m_buffer.size() >= 5 + qsizetype(length)) {
                    out.kind = m_buffer[0];
                    out.payload = m_buffer.mid(5, length);
                    m_buffer.remove(0, 5 + length);
                    return Status::Ok;
                }
            }
            char chunk[65536];
            const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
            if (n > 0) {
                m_buffer.append(chunk, n);
                continue;
            }
            if (n == 0)
                return Status::Closed;
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (!wait(POLLIN, deadline))
                    return Status::TimedOut;
                continue;
            }
            return Status::Closed;
        }
    }

private:
    // Waits until the socket is ready for events; false once the deadline passed.
    bool wait(short events, std::optional<Clock::time_point> deadline) {
        for (;;) {
            int timeout = -1;
            if (deadline) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
                if (left <= 0)
                    return false;
                timeout = int(std::min<long long>(left, 60000));
            }
            pollfd p{m_fd, events, 0};
            const int r = ::poll(&p, 1, timeout);
            if (r > 0)
                return true;
            if (r < 0 && errno != EINTR)
                return true; // let the read or send report it
        }
    }

    int m_fd;
    QByteArray m_buffer;
};

QString describeEnd(int status) {
    if (WIFSIGNALED(status))
        return QStringLiteral("ended by signal %1 (out of memory or crashed)").arg(WTERMSIG(status));
    if (WIFEXITED(status))
        return QStringLiteral("ended with status %1").arg(WEXITSTATUS(status));
    return QStringLiteral("ended");
}

QString mebibytes(qsizetype bytes) { return QString::number(bytes / (1024 * 1024)); }

void killChild(pid_t pid, int fd) {
    if (fd >= 0)
        ::close(fd);
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

// Children whose page ended well wait here for the next page, already
// making its fresh engine: starting the program costs far more than a page's
// scripts. A child serves one page at a time; pages rendered side by side
// take one each.
class ChildPool {
public:
    struct Child {
        pid_t pid = -1;
        int fd = -1;
        QString program;
        qsizetype memory = 0;
        bool literals = true;
    };
    static constexpr size_t MaxIdle = 2;

    static ChildPool &instance() {
        static ChildPool pool;
        return pool;
    }
    ~ChildPool() {
        for (const Child &child : m_idle)
            killChild(child.pid, child.fd);
    }

    // Starts a child in the background unless one is waiting already.
    void prestart(const QString &program, qsizetype memory, bool literals);

    std::optional<Child> take(const QString &program, qsizetype memory, bool literals) {
        std::lock_guard lock(m_mutex);
        for (auto it = m_idle.begin(); it != m_idle.end(); ++it) {
            if (it->program == program && it->memory == memory && it->literals == literals) {
                Child child = *it;
                m_idle.erase(it);
                return child;
            }
        }
        return std::nullopt;
    }
    void give(const Child &child) {
        std::unique_lock lock(m_mutex);
        if (m_idle.size() < MaxIdle) {
            m_idle.push_back(child);
            return;
        }
        lock.unlock();
        killChild(child.pid, child.fd);
    }

private:
    std::mutex m_mutex;
    std::vector<Child> m_idle;
};

// Starts the program with its end of a new socket pair on ChildFd.
std::optional<ChildPool::Child> spawnChild(const QString &program, qsizetype memoryLimit, bool literalsAsData,
                                           QString &error) {
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    ::fcntl(sockets[0], F_SETFL, ::fcntl(sockets[0], F_GETFL) | O_NONBLOCK);

    const std::string path = QFile::encodeName(program).toStdString();
    const std::string memory = std::to_string(qint64(memoryLimit));
    const char *literals = literalsAsData ? "1" : "0";
    char *argv[] = {const_cast<char *>(path.c_str()), const_cast<char *>("--memory"),
                    const_cast<char *>(memory.c_str()), const_cast<char *>("--literals"),
                    const_cast<char *>(literals), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], ChildFd);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(sockets[1]);
    if (failed != 0) {
        ::close(sockets[0]);
        error = QString::fromLocal8Bit(std::strerror(failed));
        return std::nullopt;
    }
    return ChildPool::Child{pid, sockets[0], program, memoryLimit, literalsAsData};
}

void ChildPool::prestart(const QString &program, qsizetype memory, bool literals) {
    std::lock_guard lock(m_mutex);
    for (const Child &child : m_idle)
        if (child.program == program && child.memory == memory && child.literals == literals)
            return;
    if (m_idle.size() >= MaxIdle)
        return;
    QString error;
    if (const auto child = spawnChild(program, memory, literals, error))
        m_idle.push_back(*child);
}

} // namespace

void ScriptEngineProcess::prestart(const QString &program, const ScriptSandbox::Options &options) {
    ChildPool::instance().prestart(program, options.engineMemory, options.literalsAsData);
}

struct ScriptEngineProcess::Private {
    QString program;
    ScriptSandbox::Writer writer;
    ScriptSandbox::Options options;
    pid_t pid = -1;
    int fd = -1;
    Channel channel;
    bool started = false;
    bool lost = false;
    bool busy = false; // a run has not come back
    QString failure;
    bool interruptPending = false;
    Clock::time_point deadline;
    std::chrono::milliseconds limit{0};

    bool start();
    bool spawn();
    bool awaitHello();
    void lose(const QString &why, bool kill);
    Outcome await();
};

bool ScriptEngineProcess::Private::start() {
    started = true;
    if (const auto child = ChildPool::instance().take(program, options.engineMemory, options.literalsAsData)) {
        pid = child->pid;
        fd = child->fd;
        channel.reset(fd);
        if (awaitHello())
            return true;
        // It died while it waited: a new one, with the same failure cleared.
        lost = false;
        failure.clear();
    }
    if (!spawn())
        return false;
    return awaitHello();
}

bool ScriptEngineProcess::Private::spawn() {
    QString error;
    const auto child = spawnChild(program, options.engineMemory, options.literalsAsData, error);
    if (!child) {
        lose(QStringLiteral("The script engine process could not be started: %1.").arg(error), false);
        return false;
    }
    pid = child->pid;
    fd = child->fd;
    channel.reset(fd);
    return true;
}

// The child is gone or has to go: nothing more runs in it.
void ScriptEngineProcess::Private::lose(const QString &why, bool kill) {
    lost = true;
    QString reason = why;
    if (pid > 0) {
        if (kill)
            ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!kill)
            reason += describeEnd(status) + QStringLiteral(".");
        pid = -1;
    }
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (failure.isEmpty())
        failure = reason;
}

// The child's first frame, within the first script's time.
bool ScriptEngineProcess::Private::awaitHello() {
    Frame frame;
    switch (channel.receive(frame, deadline)) {
    case Channel::Status::TimedOut:
        lose(QStringLiteral("The script engine process did not start within %1 ms and was killed.")
                 .arg((limit + killGrace).count()),
             true);
        return false;
    case Channel::Status::Closed:
        lose(QStringLiteral("The script engine process (at most %1 MiB) ").arg(mebibytes(options.engineMemory)),
             false);
        return false;
    case Channel::Status::Ok:
        break;
    }
    if (frame.kind != Hello || frame.payload != QByteArray(1, 1)) {
        lose(QStringLiteral("The script engine process could not make its engine."), true);
        return false;
    }
    return true;
}

// Serves the child until its run is done: its written text goes to the
// writer (which may run written scripts in the child meanwhile).
Outcome ScriptEngineProcess::Private::await() {
    for (;;) {
        if (lost)
            return Outcome::Interrupted;
        Frame frame;
        switch (channel.receive(frame, deadline)) {
        case Channel::Status::TimedOut:
            lose(QStringLiteral("A page script was stopped: its engine process was still running %1 ms after the "
                                "script's %2 ms and was killed.")
                     .arg(killGrace.count())
                     .arg(limit.count()),
                 true);
            return Outcome::Interrupted;
        case Channel::Status::Closed:
            lose(QStringLiteral("A page script was stopped: its engine process (at most %1 MiB) ")
                     .arg(mebibytes(options.engineMemory)),
                 false);
            return Outcome::Failed;
        case Channel::Status::Ok:
            break;
        }
        if (frame.kind == Done && frame.payload.size() == 1) {
            const int outcome = frame.payload[0];
            if (outcome >= int(Outcome::Completed) && outcome <= int(Outcome::NotRun))
                return Outcome(outcome);
            return Outcome::Failed;
        }
        if (frame.kind != Write) {
            lose(QStringLiteral("The script engine process answered out of turn."), true);
            return Outcome::Failed;
        }
        try {
            writer(fromUtf16(frame.payload));
        } catch (...) {
        }
        if (lost) // a written script's run lost the child
            return Outcome::Interrupted;
        const char stop = std::exchange(interruptPending, false) ? 1 : 0;
        if (!channel.send(::chenglan::frame(Written, QByteArray(1, stop)), deadline)) {
            lose(QStringLiteral("The script engine process stopped answering."), true);
            return Outcome::Interrupted;
        }
    }
}

// The installed host relative to the installed programs; the install rules
// define it from the install folders.
#ifndef CHENGLAN_SCRIPT_HOST_INSTALLED_PATH
#define CHENGLAN_SCRIPT_HOST_INSTALLED_PATH "../libexec/chenglan/chenglan-script-host"
#endif

QString ScriptEngineProcess::program() {
    static const QString found = [] {
        const QString configured = qEnvironmentVariable("CHENGLAN_SCRIPT_HOST");
        if (!configured.isEmpty())
            return QFileInfo(configured).isExecutable() ? configured : QString();
        QStringList candidates;
        if (QCoreApplication::instance()) {
            const QString here = QCoreApplication::applicationDirPath();
            candidates << here + QStringLiteral("/chenglan-script-host");
            // An installed client: the host sits in the private program folder
            // beside the programs' folder, wherever the tree was installed.
            candidates << QFileInfo(here + u'/' + QStringLiteral(CHENGLAN_SCRIPT_HOST_INSTALLED_PATH))
                              .absoluteFilePath();
        }
#ifdef CHENGLAN_SCRIPT_HOST_BUILD_PATH
        candidates << QStringLiteral(CHENGLAN_SCRIPT_HOST_BUILD_PATH);
#endif
        for (const QString &candidate : std::as_const(candidates)) {
            const QFileInfo info(candidate);
            if (info.isFile() && info.isExecutable())
                return candidate;
        }
        return QString();
    }();
    return found;
}

ScriptEngineProcess::ScriptEngineProcess(const QString &program, ScriptSandbox::Writer writer,
                                         const ScriptSandbox::Options &options)
    : d(std::make_unique<Private>()) {
    d->program = program;
    d->writer = std::move(writer);
    d->options = options;
}

ScriptEngineProcess::~ScriptEngineProcess() {
    if (d->pid <= 0)
        return;
    // A child that is well goes on with a fresh engine for the next page.
    if (!d->lost && !d->busy && d->channel.send(frame(NewPage, {}), Clock::now() + killGrace)) {
        ChildPool::instance().give({d->pid, d->fd, d->program, d->options.engineMemory, d->options.literalsAsData});
        return;
    }
    killChild(d->pid, d->fd);
}

Outcome ScriptEngineProcess::run(const QString &code, const js::Ast *, const QStringList &replay,
                                 std::chrono::milliseconds timeLimit, bool outermost) {
    if (d->lost)
        return Outcome::NotRun;
    if (outermost) {
        d->limit = timeLimit;
        d->deadline = Clock::now() + timeLimit + killGrace;
        d->interruptPending = false;
    }
    if (!d->started) {
        // Starting the child is bounded like a script; the script then has
        // its whole time.
        if (!d->start())
            return Outcome::NotRun;
        if (outermost)
            d->deadline = Clock::now() + timeLimit + killGrace;
    }
    QByteArray out;
    for (const QString &earlier : replay)
        out += frame(Replay, utf16(earlier));
    QByteArray run;
    run.append(char(outermost ? 1 : 0));
    const auto ms = std::uint32_t(std::max<qint64>(timeLimit.count(), 0));
    for (int i = 0; i < 4; ++i)
        run.append(char((ms >> (8 * i)) & 0xFF));
    run += utf16(code);
    out += frame(Run, run);
    if (!d->channel.send(out, d->deadline)) {
        d->lose(QStringLiteral("The script engine process did not take the script."), true);
        return Outcome::Failed;
    }
    const bool wasBusy = std::exchange(d->busy, true);
    const Outcome outcome = d->await();
    d->busy = wasBusy;
    return outcome;
}

void ScriptEngineProcess::interrupt() { d->interruptPending = true; }

QString ScriptEngineProcess::failure() const { return d->failure; }

int serveScriptEngine(int argc, char **argv) {
    qint64 memory = 0;
    bool literals = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--memory") == 0)
            memory = std::strtoll(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--literals") == 0)
            literals = std::strcmp(argv[i + 1], "0") != 0;
    }
#if defined(__SANITIZE_ADDRESS__)
    memory = 0; // the sanitizer's shadow memory alone is terabytes of address space
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    memory = 0;
#endif
#endif
    if (memory > 0) {
        const rlimit limit{rlim_t(memory), rlim_t(memory)};
        if (::setrlimit(RLIMIT_AS, &limit) != 0)
            return 2;
    }
    if (::fcntl(ChildFd, F_GETFD) < 0)
        return 2;
    QCoreApplication app(argc, argv);
    Channel channel(ChildFd);
    std::unique_ptr<LocalScriptEngine> engine;
    QStringList replay;

    const auto reply = [&](const QByteArray &bytes) {
        if (!channel.send(bytes))
            ::_exit(0);
    };
    ScriptSandbox::Writer writer;
    // Serves one frame of the parent's; false for one out of turn.
    const auto serve = [&](const Frame &f) {
        if (f.kind == NewPage) {
            engine.reset();
            engine = std::make_unique<LocalScriptEngine>(writer, literals);
            reply(frame(Hello, QByteArray(1, engine->ready() ? 1 : 0)));
            return engine->ready();
        }
        if (f.kind == Replay) {
            replay.append(fromUtf16(f.payload));
            return true;
        }
        if (f.kind != Run || f.payload.size() < 5)
            return false;
        const bool outermost = f.payload[0] != 0;
        const std::chrono::milliseconds limit(readU32(f.payload, 1));
        const Outcome outcome = engine->run(fromUtf16(f.payload, 5), nullptr, std::exchange(replay, {}), limit,
                                            outermost);
        reply(frame(Done, QByteArray(1, char(outcome))));
        return true;
    };
    // document.write: the text goes to the parent, which may run written
    // scripts here before it says the text is laid out.
    writer = [&](const QString &text) {
        reply(frame(Write, utf16(text)));
        for (;;) {
            Frame f;
            if (channel.receive(f) != Channel::Status::Ok)
                ::_exit(0);
            if (f.kind == Written) {
                if (!f.payload.isEmpty() && f.payload[0] != 0)
                    engine->interrupt();
                return;
            }
            if (!serve(f))
                ::_exit(3);
        }
    };
    engine = std::make_unique<LocalScriptEngine>(writer, literals);
    reply(frame(Hello, QByteArray(1, engine->ready() ? 1 : 0)));
    if (!engine->ready())
        return 0;
    for (;;) {
        Frame f;
        if (channel.receive(f) != Channel::Status::Ok)
            return 0;
        if (!serve(f))
            return 3;
    }
}

} // namespace chenglan
