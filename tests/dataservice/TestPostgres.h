#pragma once

#include "ServiceTestData.h"

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// A PostgreSQL server of the test process's own: Debian's postgresql
// binaries, a cluster made by initdb in a temporary folder, listening on
// 127.0.0.1 on a free port with trust authentication, its unix socket in
// that folder. Started on first use, stopped when the tests end.
namespace chenglan::dataservice::testing {

class TestPostgres {
public:
    static TestPostgres &instance();
    ~TestPostgres();

    // False when the binaries are missing or the server did not start;
    // whyNot() then says why (for GTEST_SKIP).
    bool available() const { return m_running || m_canRestart; }
    QString whyNot() const { return m_whyNot; }

    // A fresh, empty database on the server: its postgresql:// address.
    QString createDatabase();

    // Takes the server away and brings it back (same port, same data).
    bool stop();
    bool start();
    void shutdown();

private:
    TestPostgres();
    bool runAsOwner(const QStringList &command, QString *output = nullptr);
    bool pgCtl(const QString &action);

    QString m_bin;
    std::unique_ptr<QTemporaryDir> m_dir;
    int m_port = 0;
    int m_databases = 0;
    bool m_running = false;
    bool m_canRestart = false;
    QString m_whyNot;
};

enum class Backend { SQLite, PostgreSQL };

inline std::string backendName(const ::testing::TestParamInfo<Backend> &info) {
    return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

// How the test list names the parameter.
inline void PrintTo(Backend backend, std::ostream *out) {
    *out << (backend == Backend::SQLite ? "SQLite" : "PostgreSQL");
}

// A test run once on a SQLite file and once on a PostgreSQL database; the
// PostgreSQL run is skipped, saying why, when no server can be started.
class OnBothBackends : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::SQLite) {
            m_where = m_file.path();
            return;
        }
        auto &server = TestPostgres::instance();
        if (!server.available())
            GTEST_SKIP() << "no PostgreSQL server: " << server.whyNot().toStdString();
        m_where = server.createDatabase();
        ASSERT_FALSE(m_where.isEmpty()) << server.whyNot().toStdString();
    }
    // The --db value: a file path or a postgresql:// address.
    const QString &where() const { return m_where; }

private:
    TempDatabase m_file;
    QString m_where;
};

// Runs one statement through a connection of its own, as another tool would.
void rawExec(const QString &where, const QString &sql);

} // namespace chenglan::dataservice::testing

#define CHENGLAN_ON_BOTH_BACKENDS(Suite)                                                                           \
    INSTANTIATE_TEST_SUITE_P(, Suite,                                                                              \
                             ::testing::Values(chenglan::dataservice::testing::Backend::SQLite,                    \
                                               chenglan::dataservice::testing::Backend::PostgreSQL),               \
                             chenglan::dataservice::testing::backendName)
