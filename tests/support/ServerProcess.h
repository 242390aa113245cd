#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>

namespace chenglan::testing {

// Runs one of this build's server programs for a test. The program is started
// with "--port 0" and the given arguments; it must print, as the first line
// on stdout, where it listens ("listening on 127.0.0.1:PORT"). The helper
// reads the port, waits until the port accepts connections and stops the
// program when it goes out of scope (SIGTERM; the test fails when the program
// then ends any other way than cleanly or by that signal, e.g. on a sanitizer
// report). The program's stderr goes to the test's stderr; keep logs there,
// since stdout is read only while starting.
//
//     ServerProcess site("server/samplesite/chenglan-sample-site", {"--today", "2022-10-09"});
//     ASSERT_TRUE(site.ok()) << site.error().toStdString();
//     fetch(site.url("zq/analysis/1907429cn.htm"));
class ServerProcess {
public:
    // `binary` is relative to the build directory (CHENGLAN_BINARY_DIR) unless absolute.
    explicit ServerProcess(const QString &binary, const QStringList &arguments = {},
                           std::chrono::milliseconds startLimit = std::chrono::seconds(60));
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    bool ok() const { return m_port != 0; }
    // Why the program is not serving: not found, exited, no port printed, not answering.
    const QString &error() const { return m_error; }

    quint16 port() const { return m_port; }
    // The program's process id, to read its /proc entries.
    qint64 processId() const { return m_process.processId(); }
    QString baseUrl() const;                // "http://127.0.0.1:PORT/"
    QString url(const QString &path) const; // baseUrl() + path, one "/" between

    // Whatever the program wrote to stdout after the port line, so far.
    QByteArray readOutput();

private:
    bool readPort(std::chrono::steady_clock::time_point deadline);
    bool waitUntilAnswering(std::chrono::steady_clock::time_point deadline);
    void fail(const QString &why);

    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace chenglan::testing
