#pragma once

#include "BoundedHttpServer.h"
#include "ServiceLimits.h"
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

    // Listens on 127.0.0.1 (port 0: any free port) on a thread of its own.
    // Returns the port, or 0 when the port cannot be bound.
    int start(int port);
    void stop();
    // "http://127.0.0.1:PORT/" once started.
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

    const SimilarityIndex &index() const { return m_index; }
    std::size_t refusedConnections() const;

    // Whether the last look for changes could read the database, and why
    // not. While it cannot, queries are answered from memory and the
    // refresher keeps trying; the first read that works catches up.
    struct StoreState {
        bool reachable = true;
        QString error;
    };
    StoreState storeState() const;

private:
    void refreshLoop();
    std::size_t applyChanges(MatchStore &store);
    void noteStoreState(bool reachable, const QString &error = {});

    ServiceOptions m_options;
    SimilarityIndex m_index;
    std::mutex m_refreshMutex; // one refresh at a time; guards m_revision
    qint64 m_revision = 0;
    std::condition_variable m_revisionReached;
    mutable std::mutex m_storeStateMutex;
    StoreState m_storeState;

    std::unique_ptr<BoundedHttpServer> m_server;
    std::thread m_listener;
    std::atomic<bool> m_listenerEnded{false};
    std::thread m_refresher;
    std::mutex m_stopMutex;
    std::condition_variable m_stopWake;
    bool m_stopping = false;
    int m_port = 0;
};

} // namespace chenglan::dataservice
