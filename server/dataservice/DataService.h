#pragma once

#include "BoundedHttpServer.h"
#include "ServiceLimits.h"
#include "ServiceMetrics.h"
#include "SimilarityIndex.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

// The operator's similar-match service: the database, the in-memory index
// built from it, and the HTTP server that answers the client from the index.
namespace chenglan::dataservice {

class MatchStore;

struct ServiceOptions {
    // A SQLite file or a "postgresql://" address (MatchStore).
    QString databasePath;
    std::size_t workers = limits::kWorkerThreads;
    std::size_t maxWaiting = limits::kMaxWaitingConnections;
    // How often to look for changes made by other processes; zero: only
    // when refresh() is called.
    std::chrono::milliseconds refreshInterval = limits::kRefreshInterval;
    // The constructor loads the index; with this set it does not, and
    // startLoading() loads it on a thread while the server already answers
    // (503 on /healthz, similar queries wait up to kLoadWait).
    bool deferLoad = false;
    // The index file (IndexSnapshot.h) read at the load and rewritten after
    // changes; empty: none.
    QString snapshotPath;
    std::chrono::milliseconds snapshotInterval = limits::kSnapshotInterval;
    // The address clients reach the service at (behind a proxy: the
    // proxy's), which the link files name; empty: the listening address.
    QString publicAddress;
};

// An HTTP answer before it goes on the wire.
struct Reply {
    int status = 200;
    QByteArray body;
    const char *contentType = "text/plain; charset=gb2312";
};

class DataService {
public:
    // Opens (creating when missing) the database and loads the index.
    // Throws StoreError.
    explicit DataService(ServiceOptions options);
    ~DataService();
    DataService(const DataService &) = delete;
    DataService &operator=(const DataService &) = delete;

    // Listens on `host` (a numeric address or a name; port 0: any free
    // port) on a thread of its own. Returns the port, or 0 when the address
    // cannot be bound.
    int start(const std::string &host, int port);
    int start(int port) { return start("127.0.0.1", port); }
    // Loads the index on a thread of its own (deferLoad), then follows changes.
    void startLoading();
    // True once the index is loaded (at once without deferLoad).
    bool waitUntilLoaded(std::chrono::milliseconds timeout);
    void stop();
    // "http://HOST:PORT/" once started.
    QString baseAddress() const;

    // Reads what changed in the database since the last refresh into the
    // index. Returns the number of entries added, replaced or removed.
    std::size_t refresh();
    // Waits until the index has read the database up to `revision`
    // (MatchStore::revision() after a write); false when the time ran out.
    bool waitForRevision(qint64 revision, std::chrono::milliseconds timeout);

    // The answer to a similar-match request: the raw query string of the
    // request target, or the form body of a POST.
    Reply answerQuery(std::string_view queryString);
    // The text of a server-slot link file.
    Reply linkFile() const;
    // /healthz: 200 with the revision and the profile count once the index
    // is loaded and the database readable, else 503 with the reason.
    Reply health() const;
    // /metrics, the Prometheus text format.
    Reply metrics();

    const SimilarityIndex &index() const { return m_index; }
    std::size_t refusedConnections() const;
    // Where the index came from at the load: true from the index file.
    bool loadedFromSnapshot() const { return m_fromSnapshot; }
    // Writes the index file now (when one is configured and the database is
    // still at the index's revision). Returns an empty text or why not.
    QString writeSnapshot();

    // Whether the last look for changes could read the database, and why
    // not. While it cannot, queries are answered from memory and the
    // refresher keeps trying; the first read that works catches up.
    struct StoreState {
        bool reachable = true;
        QString error;
    };
    StoreState storeState() const;

private:
    void load();
    void backgroundLoop();
    void snapshotLoop();
    std::size_t applyChanges(MatchStore &store);
    void setStoreProblem(const QString &problem);
    void installRoutes();

    ServiceOptions m_options;
    SimilarityIndex m_index;
    std::mutex m_refreshMutex; // one refresh at a time; guards m_revision
    qint64 m_revision = 0;
    std::condition_variable m_revisionReached;
    std::atomic<bool> m_loaded{false};
    std::atomic<bool> m_fromSnapshot{false};
    std::mutex m_loadMutex;
    std::condition_variable m_loadDone;
    mutable std::mutex m_problemMutex;
    QString m_storeProblem; // why the database cannot be read; empty when it can
    ServiceMetrics m_metrics;

    std::unique_ptr<BoundedHttpServer> m_server;
    std::thread m_listener;
    std::atomic<bool> m_listenerEnded{false};
    std::thread m_refresher;
    std::thread m_snapshotWriter;
    std::mutex m_stopMutex; // also guards the two fields below
    std::condition_variable m_stopWake;
    bool m_stopping = false;
    bool m_snapshotDirty = false;
    std::string m_host = "127.0.0.1";
    int m_port = 0;
};

} // namespace chenglan::dataservice
