#pragma once
// Runs chenglan-cli as a process for the command-line tests.
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include "support/CacheIsolation.h"

#include <gtest/gtest.h>

namespace chenglan::testing {

struct CliRun {
    int exitCode = -1; // -1 when the command did not end within its time
    QJsonObject json;  // stdout read as one JSON object
    QString errors;    // stderr
};

// Runs `chenglan-cli <command> args` while this process's event loop keeps
// serving, so a test's in-process server answers the command's fetches.
inline CliRun runCli(const QString &command, const QStringList &args, int timeoutMs = 120000) {
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    process.start(QStringLiteral(CHENGLAN_CLI), QStringList{command} + args);
    loop.exec();
    CliRun run;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.json = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// A test suite of the command line: a QCoreApplication for the event loop.
class CliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test_cli";
        static char *argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }
};

} // namespace chenglan::testing
