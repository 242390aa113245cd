#include "TestPostgres.h"

#include "StoreDialect.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace chenglan::dataservice::testing {

namespace {

// Where Debian puts each major version's server programs.
const char kDebianPostgresRoot[] = "/usr/lib/postgresql";
// initdb refuses to run as root; as root the cluster belongs to this user.
const char kServerUser[] = "postgres";
constexpr int kCommandTimeoutMs = 60000;
constexpr int kStartTimeoutSeconds = 30;

QString newestServerBin() {
    QDir root(QString::fromLatin1(kDebianPostgresRoot));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(), [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &v : versions) {
        const QString bin = root.filePath(v + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

int freeLoopbackPort() {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    int port = 0;
    if (::bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && ::getsockname(sock, reinterpret_cast<sockaddr *>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    ::close(sock);
    return port;
}

QString adminAddress(int port, const QString &database) {
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(QLatin1String(kServerUser)).arg(port).arg(database);
}

std::atomic<bool> g_made{false};

// Stops the server, when a test made one, once every test has run.
class StopServerAtEnd : public ::testing::Environment {
public:
    void TearDown() override {
        if (g_made)
            TestPostgres::instance().shutdown();
    }
};
[[maybe_unused]] ::testing::Environment *const g_stopServer = ::testing::AddGlobalTestEnvironment(new StopServerAtEnd);

} // namespace

TestPostgres &TestPostgres::instance() {
    static TestPostgres server;
    g_made = true;
    return server;
}

TestPostgres::TestPostgres() {
    m_bin = newestServerBin();
    if (m_bin.isEmpty()) {
        m_whyNot = QStringLiteral("no initdb and pg_ctl under %1 (Debian package postgresql)")
                       .arg(QLatin1String(kDebianPostgresRoot));
        return;
    }
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/chenglan-pg-XXXXXX"));
    if (!m_dir->isValid()) {
        m_whyNot = QStringLiteral("cannot make a temporary folder");
        return;
    }
    if (::geteuid() == 0) {
        const passwd *owner = ::getpwnam(kServerUser);
        if (!owner || ::chown(m_dir->path().toLocal8Bit().constData(), owner->pw_uid, owner->pw_gid) != 0) {
            m_whyNot = QStringLiteral("running as root and there is no user %1 to own the cluster")
                           .arg(QLatin1String(kServerUser));
            return;
        }
    }
    QString output;
    if (!runAsOwner({m_bin + QStringLiteral("/initdb"), QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")),
                     QStringLiteral("-U"), QLatin1String(kServerUser), QStringLiteral("--auth=trust"),
                     QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
                     QStringLiteral("--no-sync")},
                    &output)) {
        m_whyNot = QStringLiteral("initdb failed: %1").arg(output.right(400));
        return;
    }
    m_canRestart = true;
    // Another program may take the free port between the look and the start.
    for (int attempt = 0; attempt < 3 && !m_running; ++attempt) {
        m_port = freeLoopbackPort();
        start();
    }
    if (!m_running)
        m_canRestart = false;
}

TestPostgres::~TestPostgres() { shutdown(); }

bool TestPostgres::runAsOwner(const QStringList &command, QString *output) {
    QStringList arguments = command;
    QString program = arguments.takeFirst();
    if (::geteuid() == 0) {
        arguments = QStringList{QStringLiteral("-u"), QLatin1String(kServerUser), QStringLiteral("--"), program} + arguments;
        program = QStringLiteral("runuser");
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_dir->path());
    process.start(program, arguments);
    const bool finished = process.waitForFinished(kCommandTimeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool TestPostgres::pgCtl(const QString &action) {
    QStringList command{m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")),
                        QStringLiteral("-w"), QStringLiteral("-t"), QString::number(kStartTimeoutSeconds)};
    if (action == QLatin1String("start"))
        // Durability does not matter to a test cluster; speed does.
        command << QStringLiteral("-l") << m_dir->filePath(QStringLiteral("server.log")) << QStringLiteral("-o")
                << QStringLiteral("-c listen_addresses=127.0.0.1 -p %1 -k %2 -c fsync=off -c synchronous_commit=off "
                                  "-c full_page_writes=off")
                       .arg(m_port)
                       .arg(m_dir->path());
    else
        command << QStringLiteral("-m") << QStringLiteral("fast");
    command << action;
    QString output;
    const bool ok = runAsOwner(command, &output);
    if (!ok)
        m_whyNot = QStringLiteral("pg_ctl %1 failed: %2").arg(action, output.right(400));
    return ok;
}

bool TestPostgres::start() {
    if (m_running)
        return true;
    if (!m_canRestart || !pgCtl(QStringLiteral("start")))
        return false;
    m_running = true;
    return true;
}

bool TestPostgres::stop() {
    if (!m_running)
        return true;
    if (!pgCtl(QStringLiteral("stop")))
        return false;
    m_running = false;
    return true;
}

void TestPostgres::shutdown() {
    stop();
    m_canRestart = false;
}

QString TestPostgres::createDatabase() {
    if (!m_running)
        return {};
    const QString name = QStringLiteral("test_%1_%2").arg(::getpid()).arg(++m_databases);
    const QString connection = QStringLiteral("test-postgres-admin");
    bool ok = false;
    {
        Dialect dialect;
        try {
            QSqlDatabase db = openStoreDatabase(adminAddress(m_port, QStringLiteral("postgres")), false, connection,
                                                &dialect);
            QSqlQuery q(db);
            // A name of our own making: digits and underscores only.
            ok = q.exec(QStringLiteral("CREATE DATABASE %1").arg(name));
            if (!ok)
                m_whyNot = q.lastError().text();
        } catch (const StoreError &e) {
            m_whyNot = QString::fromStdString(e.what());
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok ? adminAddress(m_port, name) : QString();
}

void rawExec(const QString &where, const QString &sql) {
    const QString connection = QStringLiteral("test-raw");
    {
        Dialect dialect;
        QSqlDatabase db = openStoreDatabase(where, false, connection, &dialect);
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
    }
    QSqlDatabase::removeDatabase(connection);
}

} // namespace chenglan::dataservice::testing
