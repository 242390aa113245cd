#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace chenglan::testing {

// What the proxy does to an answer instead of passing it on.
enum class Fault {
    None,         // the upstream answer as it came
    ResetMidBody, // the headers and half the body, then a TCP reset
    Stall,        // the headers and half the body, then nothing until the client gives up
    ServerError,  // 500 with an HTML error page
    Oversize,     // 200 with a body of FaultProxy::oversizeBytes(), without Content-Length
    GbAsUtf8,     // the upstream page re-encoded as GB18030, labelled charset=utf-8
    InvalidBytes, // the upstream body with bytes that are text in no encoding put in its middle
    Truncated,    // Content-Length of the whole body, half of it sent, then a normal close
    Empty,        // 200 with an empty body
};

// Readable name of a fault, for test names and traces.
const char *faultName(Fault fault);

// A fault-injecting HTTP proxy for tests: listens on 127.0.0.1 (a port of
// its own choosing), forwards every request to one upstream server (one of
// ServerProcess's programs), one connection per request, and applies the
// fault of the first rule whose text occurs in the request target. Rules
// change at run time from the test's thread. refuseConnections(true) closes
// the listening port (connections are refused) until it is reopened on the
// same port.
//
//     FaultProxy proxy(site.baseUrl());
//     proxy.inject(QStringLiteral("analysis/"), Fault::ServerError);
//     fetch(proxy.url("zq/analysis/1907429cn.htm"));   // 500
//     proxy.clear();                                   // answers again
class FaultProxy {
public:
    explicit FaultProxy(const QString &upstreamBase);
    ~FaultProxy();
    FaultProxy(const FaultProxy &) = delete;
    FaultProxy &operator=(const FaultProxy &) = delete;

    bool ok() const { return m_port != 0 && m_error.isEmpty(); }
    const QString &error() const { return m_error; }
    quint16 port() const { return m_port; }
    QString baseUrl() const; // "http://127.0.0.1:PORT/"
    QString url(const QString &path) const;

    // Requests whose target contains `part` get `fault`, from the (skip+1)th
    // such request on (skip 1 passes the first one through). Rules are tried
    // in the order they were added; an empty part matches every request.
    void inject(const QString &part, Fault fault, int skip = 0);
    // No rule, no refusal, no fault counted: every request is forwarded.
    void clear();
    void refuseConnections(bool refuse);
    // Requests that got a fault since the last clear().
    int faultsServed() const { return m_faultsServed; }

    // Body size of Fault::Oversize; set it past the client's bound.
    void setOversizeBytes(qint64 bytes) { m_oversizeBytes = bytes; }
    // How long a stalled answer is held at most (the client usually gives up first).
    void setStallLimit(std::chrono::milliseconds limit) { m_stallLimit = limit; }

private:
    struct Rule {
        QByteArray part;
        Fault fault;
        int skip;
    };
    bool openListener(quint16 port);
    void closeListener();
    void acceptLoop();
    void serve(int client);
    Fault faultFor(const QByteArray &target);

    QByteArray m_upstreamHost;
    quint16 m_upstreamPort = 0;
    quint16 m_port = 0;
    QString m_error;

    std::mutex m_mutex; // guards m_rules, m_listener changes, m_workers
    std::vector<Rule> m_rules;
    std::atomic<int> m_listener{-1};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_faultsServed{0};
    std::atomic<qint64> m_oversizeBytes{1024 * 1024};
    std::atomic<std::chrono::milliseconds> m_stallLimit{std::chrono::milliseconds(30000)};
    std::thread m_acceptor;
    std::vector<std::thread> m_workers;
};

} // namespace chenglan::testing
