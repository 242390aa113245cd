#include "DataService.h"

#include "AnswerFormat.h"
#include "IndexSnapshot.h"
#include "MatchStore.h"
#include "ServiceLog.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringEncoder>
#include <QStringList>

#include <cstdio>
#include <malloc.h>

namespace chenglan::dataservice {

namespace {

// A refresh this large (the first load, a big import) is followed by
// returning freed memory to the system.
constexpr std::size_t kLargeRefresh = 10000;

Reply textReply(int status, const QString &text) {
    return Reply{status, text.toUtf8(), "text/plain; charset=utf-8"};
}

Reply jsonReply(int status, const QJsonObject &object) {
    return Reply{status, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n', "application/json"};
}

} // namespace

DataService::DataService(ServiceOptions options) : m_options(std::move(options)) {
    if (!QStringEncoder("GB18030").isValid())
        throw StoreError(QStringLiteral("this Qt has no GB18030 encoder"));
    { MatchStore create(m_options.databasePath, MatchStore::Access::ReadWrite); }
    if (!m_options.deferLoad)
        load();
}

DataService::~DataService() { stop(); }

std::size_t DataService::applyChanges(MatchStore &store) {
    std::vector<IndexEntry> upserts;
    std::vector<qint64> removals;
    const qint64 reached = store.changesSince(
        m_revision,
        [&](const AnswerRow &row) {
            upserts.push_back({row.facts.matchId, row.profile.strengths, row.profile.code20, row.profile.code10,
                               row.kickoffMinutes, storedRecord(row)});
        },
        [&](qint64 id) { removals.push_back(id); });
    m_index.apply(upserts, removals);
    const bool moved = reached != m_revision;
    m_revision = reached;
    m_revisionReached.notify_all();
    m_metrics.setIndex(m_index.size(), m_revision);
    if (moved && m_loaded) {
        m_metrics.markChangeApplied();
        // Even a write that changed no row takes a revision; the index file
        // must carry it, or the next start would not match the database.
        if (!m_options.snapshotPath.isEmpty()) {
            std::lock_guard lock(m_stopMutex);
            m_snapshotDirty = true;
            m_stopWake.notify_all();
        }
    }
    const std::size_t count = upserts.size() + removals.size();
    if (count > kLargeRefresh) {
        // The staging vectors of a large load are gone; give their memory back.
        upserts = {};
        removals = {};
        malloc_trim(0);
    }
    return count;
}

std::size_t DataService::refresh() {
    std::lock_guard lock(m_refreshMutex);
    MatchStore store(m_options.databasePath, MatchStore::Access::ReadOnly);
    return applyChanges(store);
}

bool DataService::waitForRevision(qint64 revision, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_refreshMutex);
    return m_revisionReached.wait_for(lock, timeout, [&] { return m_revision >= revision; });
}

void DataService::load() {
    QElapsedTimer timer;
    timer.start();
    bool fromSnapshot = false;
    if (!m_options.snapshotPath.isEmpty()) {
        MatchStore store(m_options.databasePath, MatchStore::Access::ReadOnly);
        const std::optional<StoreStamp> stamp = readStoreStamp(store);
        SnapshotRead read = stamp ? readIndexSnapshot(m_options.snapshotPath, *stamp)
                                  : SnapshotRead{std::nullopt, QStringLiteral("the database changed while it was read")};
        if (read.groups) {
            std::lock_guard lock(m_refreshMutex);
            m_index.replace(std::move(*read.groups));
            m_revision = stamp->revision;
            m_revisionReached.notify_all();
            m_metrics.setIndex(m_index.size(), m_revision);
            fromSnapshot = true;
        } else {
            logLine(LogLevel::Info, QStringLiteral("index file not used: %1; reading the database").arg(read.why));
        }
    }
    if (!fromSnapshot) {
        refresh();
        // A rebuilt index is written out at once, so the next start is quick.
        if (!m_options.snapshotPath.isEmpty()) {
            std::lock_guard lock(m_stopMutex);
            m_snapshotDirty = true;
        }
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    m_metrics.setLoadDuration(std::chrono::duration<double>(seconds));
    m_metrics.markChangeApplied();
    m_metrics.setReady(true);
    m_fromSnapshot = fromSnapshot;
    {
        std::lock_guard lock(m_loadMutex);
        m_loaded = true;
    }
    m_loadDone.notify_all();
    { std::lock_guard lock(m_stopMutex); } // the snapshot writer is waiting or sees m_loaded
    m_stopWake.notify_all();
    logLine(LogLevel::Info, QStringLiteral("index loaded from %1 in %2 s: %3 analysed finished matches in %4 "
                                           "pattern groups, revision %5")
                                .arg(fromSnapshot ? QStringLiteral("the index file") : QStringLiteral("the database"))
                                .arg(seconds, 0, 'f', 2)
                                .arg(m_index.size())
                                .arg(m_index.groupCount())
                                .arg(m_revision));
}

bool DataService::waitUntilLoaded(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_loadMutex);
    return m_loadDone.wait_for(lock, timeout, [&] { return m_loaded.load(); });
}

void DataService::setStoreProblem(const QString &problem) {
    std::lock_guard lock(m_problemMutex);
    if (problem == m_storeProblem)
        return;
    if (problem.isEmpty())
        logLine(LogLevel::Info, QStringLiteral("the database can be read again"));
    else
        logLine(LogLevel::Error, QStringLiteral("the database cannot be read: %1").arg(problem));
    m_storeProblem = problem;
}

void DataService::backgroundLoop() {
    // This thread's own connection: its change stamp (SQLite's data_version,
    // PostgreSQL's revision) moves with every commit of another connection.
    std::unique_ptr<MatchStore> store;
    qint64 seenVersion = -1;
    const bool isFile = !m_options.databasePath.contains(QLatin1String("://"));
    std::unique_lock stopLock(m_stopMutex);
    // Without a refresh interval the thread only loads, retrying a failed load now and then.
    const auto interval =
        m_options.refreshInterval.count() > 0 ? m_options.refreshInterval : limits::kRefreshInterval;
    bool first = true;
    while (first || !m_stopWake.wait_for(stopLock, interval, [&] { return m_stopping; })) {
        first = false;
        stopLock.unlock();
        try {
            // An open connection keeps reading a file that was deleted or
            // replaced; the operator must hear that it is gone.
            if (isFile && !QFileInfo::exists(m_options.databasePath))
                throw StoreError(QStringLiteral("%1 no longer exists").arg(m_options.databasePath));
            if (!m_loaded) {
                load();
            } else if (m_options.refreshInterval.count() > 0) {
                if (!store)
                    store = std::make_unique<MatchStore>(m_options.databasePath, MatchStore::Access::ReadOnly);
                const qint64 version = store->changeStamp();
                if (version != seenVersion) {
                    std::lock_guard lock(m_refreshMutex);
                    applyChanges(*store);
                    seenVersion = version;
                }
            }
            setStoreProblem({});
        } catch (const StoreError &e) {
            store.reset(); // a fresh connection next time
            seenVersion = -1;
            setStoreProblem(QString::fromStdString(e.what()));
        }
        stopLock.lock();
        if (m_loaded && m_options.refreshInterval.count() == 0)
            break;
    }
}

QString DataService::writeSnapshot() {
    if (m_options.snapshotPath.isEmpty() || !m_loaded)
        return QStringLiteral("no index file");
    qint64 revision = 0;
    SimilarityIndex::Groups groups;
    {
        std::lock_guard lock(m_refreshMutex);
        revision = m_revision;
        groups = m_index.groups();
    }
    try {
        MatchStore store(m_options.databasePath, MatchStore::Access::ReadOnly);
        const std::optional<StoreStamp> stamp = readStoreStamp(store);
        // A newer write is on its way into the index; the file follows it.
        if (!stamp || stamp->revision != revision)
            return QStringLiteral("the database moved on");
        QElapsedTimer timer;
        timer.start();
        const QString error = writeIndexSnapshot(m_options.snapshotPath, *stamp, groups);
        if (!error.isEmpty()) {
            logLine(LogLevel::Warning, error);
            return error;
        }
        logLine(LogLevel::Info, QStringLiteral("index file %1 written at revision %2 in %3 s")
                                    .arg(m_options.snapshotPath)
                                    .arg(revision)
                                    .arg(double(timer.nsecsElapsed()) / 1e9, 0, 'f', 2));
        return {};
    } catch (const StoreError &e) {
        return QString::fromStdString(e.what());
    }
}

DataService::StoreState DataService::storeState() const {
    std::lock_guard lock(m_problemMutex);
    return StoreState{m_storeProblem.isEmpty(), m_storeProblem};
}

void DataService::snapshotLoop() {
    std::unique_lock lock(m_stopMutex);
    auto lastWrite = std::chrono::steady_clock::time_point{};
    for (;;) {
        m_stopWake.wait(lock, [&] { return m_stopping || (m_snapshotDirty && m_loaded); });
        if (m_stopping)
            break;
        // Many changes in a row (an ingest's batches) make one write.
        if (m_stopWake.wait_until(lock, lastWrite + m_options.snapshotInterval, [&] { return m_stopping; }))
            break;
        m_snapshotDirty = false;
        lock.unlock();
        writeSnapshot();
        lastWrite = std::chrono::steady_clock::now();
        lock.lock();
    }
    // The file a restart reads is the one of the last change.
    const bool dirty = m_snapshotDirty;
    m_snapshotDirty = false;
    lock.unlock();
    if (dirty)
        writeSnapshot();
}

void DataService::installRoutes() {
    const auto handleQuery = [this](const httplib::Request &req, httplib::Response &res) {
        const auto began = std::chrono::steady_clock::now();
        const std::size_t mark = req.target.find('?');
        std::string_view query;
        if (mark != std::string::npos)
            query = std::string_view(req.target).substr(mark + 1);
        // A form post carries the query in its body instead.
        if (query.empty() && req.method == "POST"
            && req.get_header_value("Content-Type").starts_with("application/x-www-form-urlencoded"))
            query = req.body;
        // A query that arrives while the index loads waits for it a little:
        // an empty index would answer "no similar match", which is wrong.
        const Reply reply = m_loaded || waitUntilLoaded(limits::kLoadWait)
                                ? answerQuery(query)
                                : textReply(503, QStringLiteral("loading the index, try again shortly\n"));
        // Answers go out uncompressed: the library would brotli- or gzip-encode
        // them for any client that accepts it, which costs the server several
        // milliseconds an answer to save a few kilobytes.
        const_cast<httplib::Request &>(req).headers.erase("Accept-Encoding");
        res.status = reply.status;
        res.set_content(reply.body.constData(), std::size_t(reply.body.size()), reply.contentType);
        m_metrics.observeQuery(std::chrono::steady_clock::now() - began);
    };
    m_server->Get("/shili/deep_jc.asp", handleQuery);
    m_server->Post("/shili/deep_jc.asp", handleQuery);
    // A POST with neither Content-Length nor chunked encoding has no body;
    // answer it before the server would wait for one until the connection ends.
    m_server->setPreRouting([handleQuery](const httplib::Request &req, httplib::Response &res) {
        if (req.method == "POST" && req.path == "/shili/deep_jc.asp" && !req.has_header("Content-Length")
            && !req.has_header("Transfer-Encoding")) {
            handleQuery(req, res);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    m_server->Get(R"(/link\(([0-2])\)\.txt)", [this](const httplib::Request &, httplib::Response &res) {
        const Reply reply = linkFile();
        res.set_content(reply.body.constData(), std::size_t(reply.body.size()), reply.contentType);
    });
    const auto serve = [](const Reply &reply, httplib::Response &res) {
        res.status = reply.status;
        res.set_content(reply.body.constData(), std::size_t(reply.body.size()), reply.contentType);
    };
    m_server->Get("/healthz", [this, serve](const httplib::Request &, httplib::Response &res) { serve(health(), res); });
    m_server->Get("/metrics", [this, serve](const httplib::Request &, httplib::Response &res) { serve(metrics(), res); });
    m_server->setErrorHandler([](const httplib::Request &, httplib::Response &res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        res.set_content(res.status == 404 ? "not found\n" : "refused\n", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });
    m_server->set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        res.status = 500;
        res.set_content("internal error\n", "text/plain");
    });
    // Every answer is counted; every refused or failed one is also logged
    // (but a 503 of /healthz, which a load balancer asks every few seconds
    // while the index loads, is the answer it asked for).
    m_server->setAnswerObserver([this](const std::string &path, int status) {
        m_metrics.countAnswer(path, status);
        if (status >= 400 && path != "/healthz")
            logLine(status >= 500 && status != 503 ? LogLevel::Error : LogLevel::Warning,
                    QStringLiteral("%1 answered %2").arg(path.empty() ? QStringLiteral("request not read")
                                                                      : QString::fromStdString(
                                                                            ServiceMetrics::pathLabel(path)))
                        .arg(status));
    });
    m_server->setBusyObserver([this] {
        m_metrics.countBusyRefusal();
        logLine(LogLevel::Warning, QStringLiteral("connection refused with 503: every worker busy"));
    });
}

int DataService::start(const std::string &host, int port) {
    BoundedServerOptions options;
    options.workers = m_options.workers;
    options.maxWaiting = m_options.maxWaiting;
    options.maxRequestBytes = limits::kMaxRequestBytes;
    options.keepAliveMaxRequests = limits::kKeepAliveMaxRequests;
    options.keepAliveTimeout = limits::kKeepAliveTimeout;
    options.readTimeout = limits::kReadTimeout;
    options.writeTimeout = limits::kWriteTimeout;
    options.listenBacklog = limits::kListenBacklog;
    m_server = std::make_unique<BoundedHttpServer>(std::move(options));
    installRoutes();

    m_port = m_server->bindAddress(host, port);
    if (m_port <= 0) {
        m_port = 0;
        m_server.reset();
        return 0;
    }
    m_host = host;
    m_listener = std::thread([this] {
        m_server->listen_after_bind();
        m_listenerEnded = true;
    });
    // The socket already queues connections; waiting for the accept loop
    // only makes sure that stop() finds it running.
    while (!m_server->is_running() && !m_listenerEnded)
        std::this_thread::yield();
    if (!m_options.deferLoad)
        startLoading();
    return m_port;
}

void DataService::startLoading() {
    if (m_refresher.joinable())
        return;
    if (!m_options.snapshotPath.isEmpty())
        m_snapshotWriter = std::thread([this] { snapshotLoop(); });
    // Without deferLoad the index is loaded already; the thread only follows changes.
    if (!m_loaded || m_options.refreshInterval.count() > 0)
        m_refresher = std::thread([this] { backgroundLoop(); });
}

void DataService::stop() {
    {
        std::lock_guard lock(m_stopMutex);
        m_stopping = true;
    }
    m_stopWake.notify_all();
    if (m_refresher.joinable())
        m_refresher.join();
    if (m_server) {
        m_server->stop();
        if (m_listener.joinable())
            m_listener.join();
    }
    if (m_snapshotWriter.joinable())
        m_snapshotWriter.join();
}

QString DataService::baseAddress() const {
    const QString host = QString::fromStdString(m_host);
    // An IPv6 address goes in brackets; a wildcard address is no address to
    // give a client, loopback is.
    const QString shown = host == QLatin1String("0.0.0.0") || host == QLatin1String("::")
                              ? QStringLiteral("127.0.0.1")
                              : host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("http://%1:%2/").arg(shown).arg(m_port);
}

std::size_t DataService::refusedConnections() const { return m_server ? m_server->refusedConnections() : 0; }

Reply DataService::linkFile() const {
    const QString address = m_options.publicAddress.isEmpty() ? baseAddress() : m_options.publicAddress;
    return Reply{200, address.toLatin1(), "text/plain; charset=gb2312"};
}

Reply DataService::health() const {
    QString problem;
    {
        std::lock_guard lock(m_problemMutex);
        problem = m_storeProblem;
    }
    if (!problem.isEmpty())
        return jsonReply(503, {{QStringLiteral("status"), QStringLiteral("unavailable")},
                               {QStringLiteral("reason"), QStringLiteral("the database cannot be read: ") + problem}});
    if (!m_loaded)
        return jsonReply(503, {{QStringLiteral("status"), QStringLiteral("loading")},
                               {QStringLiteral("reason"), QStringLiteral("the index is being loaded")}});
    return jsonReply(200, {{QStringLiteral("status"), QStringLiteral("ok")},
                           {QStringLiteral("revision"), m_metrics.servedRevision()},
                           {QStringLiteral("profiles"), qint64(m_index.size())}});
}

Reply DataService::metrics() {
    const std::string text = m_metrics.exposition();
    return Reply{200, QByteArray::fromStdString(text), "text/plain; version=0.0.4; charset=utf-8"};
}

Reply DataService::answerQuery(std::string_view queryString) {
    const QueryParse parsed = similarQueryFromParameters(queryString);
    if (!parsed.query)
        return textReply(400, QStringLiteral("bad query: %1\n").arg(parsed.error));

    // From memory alone: the index keeps each match's record bytes.
    const std::vector<SimilarHit> hits = m_index.search(*parsed.query);
    QByteArray answer;
    answer.reserve(qsizetype(hits.size()) * 200);
    for (const auto &hit : hits)
        appendRecord(answer, hit);
    return Reply{200, answer};
}

} // namespace chenglan::dataservice
