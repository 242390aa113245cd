#include "DataService.h"

#include "AnswerFormat.h"
#include "MatchStore.h"

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

} // namespace

DataService::DataService(ServiceOptions options) : m_options(std::move(options)) {
    if (!QStringEncoder("GB18030").isValid())
        throw StoreError(QStringLiteral("this Qt has no GB18030 encoder"));
    { MatchStore create(m_options.databasePath, MatchStore::Access::ReadWrite); }
    refresh();
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
    m_revision = reached;
    m_revisionReached.notify_all();
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

void DataService::refreshLoop() {
    // This thread's own connection: its change stamp (SQLite's data_version,
    // PostgreSQL's revision) moves with every commit of another connection.
    std::unique_ptr<MatchStore> store;
    qint64 seenVersion = -1;
    std::unique_lock stopLock(m_stopMutex);
    while (!m_stopWake.wait_for(stopLock, m_options.refreshInterval, [&] { return m_stopping; })) {
        stopLock.unlock();
        try {
            if (!store)
                store = std::make_unique<MatchStore>(m_options.databasePath, MatchStore::Access::ReadOnly);
            const qint64 version = store->changeStamp();
            if (version != seenVersion) {
                std::lock_guard lock(m_refreshMutex);
                applyChanges(*store);
                seenVersion = version;
            }
            noteStoreState(true);
        } catch (const StoreError &e) {
            // The index keeps answering; a fresh connection next time reads
            // everything after the last revision applied.
            store.reset();
            seenVersion = -1;
            noteStoreState(false, QString::fromStdString(e.what()).simplified()); // one log line
        }
        stopLock.lock();
    }
}

void DataService::noteStoreState(bool reachable, const QString &error) {
    std::lock_guard lock(m_storeStateMutex);
    if (reachable != m_storeState.reachable) {
        if (reachable)
            std::fprintf(stderr, "chenglan-service: the database is readable again; changes caught up\n");
        else
            std::fprintf(stderr, "chenglan-service: the database cannot be read, answering from memory: %s\n",
                         qPrintable(error));
    }
    m_storeState = StoreState{reachable, error};
}

DataService::StoreState DataService::storeState() const {
    std::lock_guard lock(m_storeStateMutex);
    return m_storeState;
}

int DataService::start(int port) {
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

    const auto handleQuery = [this](const httplib::Request &req, httplib::Response &res) {
        const std::size_t mark = req.target.find('?');
        std::string_view query;
        if (mark != std::string::npos)
            query = std::string_view(req.target).substr(mark + 1);
        // A form post carries the query in its body instead.
        if (query.empty() && req.method == "POST"
            && req.get_header_value("Content-Type").starts_with("application/x-www-form-urlencoded"))
            query = req.body;
        const Reply reply = answerQuery(query);
        // Answers go out uncompressed: the library would brotli- or gzip-encode
        // them for any client that accepts it, which costs the server several
        // milliseconds an answer to save a few kilobytes.
        const_cast<httplib::Request &>(req).headers.erase("Accept-Encoding");
        res.status = reply.status;
        res.set_content(reply.body.constData(), std::size_t(reply.body.size()), reply.contentType);
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

    m_port = m_server->bindLoopback(port);
    if (m_port <= 0) {
        m_port = 0;
        m_server.reset();
        return 0;
    }
    m_listener = std::thread([this] {
        m_server->listen_after_bind();
        m_listenerEnded = true;
    });
    // The socket already queues connections; waiting for the accept loop
    // only makes sure that stop() finds it running.
    while (!m_server->is_running() && !m_listenerEnded)
        std::this_thread::yield();
    if (m_options.refreshInterval.count() > 0)
        m_refresher = std::thread([this] { refreshLoop(); });
    return m_port;
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
}

QString DataService::baseAddress() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_port); }

std::size_t DataService::refusedConnections() const { return m_server ? m_server->refusedConnections() : 0; }

Reply DataService::linkFile() const { return Reply{200, baseAddress().toLatin1(), "text/plain; charset=gb2312"}; }

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
