#pragma once

#include "net/Web.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace chenglan {

// The disk the cache may fill; the least recently used pages go first.
inline constexpr qint64 kPageCacheBytes = 200LL * 1024 * 1024;
// A changing page fetched ahead of the user serves the one click that
// follows within this time; after that it is fetched again.
inline constexpr std::chrono::minutes kAheadFreshness{10};
// Memory the pages fetched ahead may hold at once; the oldest go first.
inline constexpr qint64 kAheadBytes = 32LL * 1024 * 1024;

// The folder of the user's page cache, shared by the window and the command
// line: "pages" under the window's cache location (~/.cache/chenglan/pages).
QString defaultPageCacheDir();

// What a cache did since it was opened, for tests, recordings and the bench.
struct PageCacheCounts {
    int hits = 0;       // final answers served from the disk
    int stored = 0;     // final answers written
    int damaged = 0;    // entries that failed their checks, dropped
    int aheadTaken = 0; // changing answers fetched ahead and handed to a click
};

// Answers that cannot change, kept on disk across runs, and answers fetched
// ahead of the user, kept briefly in memory. One instance is shared by every
// Web of a process (thread-safe); two processes may share one folder.
//
// An entry is one file named after the SHA-256 of its request (method and
// address): a magic line, the answer's status, headers and final address as
// JSON, the body, then the SHA-256 of everything before it. An entry whose
// length, checksum or request does not match is removed and counts as
// absent, so a damaged file is fetched again and never shown.
class PageCache {
public:
    explicit PageCache(QString dir, qint64 maxBytes = kPageCacheBytes);

    const QString &dir() const { return m_dir; }
    // Why the folder cannot be used; empty while it can. An unusable cache
    // keeps nothing and finds nothing: pages are simply fetched.
    QString error() const;

    // The stored answer to a final request, checked, or nothing.
    std::optional<HttpResponse> find(const HttpRequest &request);
    // Keeps the answer to a final request: only a whole page (status 200, a
    // body that decodes as text) and one within the bound.
    void store(const HttpRequest &request, const HttpResponse &response);

    // Holds a changing answer fetched ahead; take() hands it to the next
    // request for the same page, once, while it is fresh.
    void holdAhead(const HttpRequest &request, const HttpResponse &response);
    std::optional<HttpResponse> takeAhead(const HttpRequest &request);
    // The held answer, left for the click (fetching ahead reads it again).
    std::optional<HttpResponse> peekAhead(const HttpRequest &request);

    PageCacheCounts counts() const;
    qint64 bytes() const;
    int entries() const;

private:
    struct Entry {
        qint64 size = 0;
        qint64 lastUse = 0; // ms since the epoch; the file's modification time
    };
    struct Held {
        HttpResponse response;
        std::chrono::steady_clock::time_point fetched;
    };

    void openLocked();
    void dropLocked(QString name); // by value: callers pass keys of m_entries
    void evictLocked();

    QString m_dir;
    qint64 m_maxBytes;
    mutable std::mutex m_mutex;
    bool m_opened = false;
    QString m_error;
    QHash<QString, Entry> m_entries; // by file name
    qint64 m_bytes = 0;
    QHash<QString, Held> m_ahead; // by request key
    qint64 m_aheadBytes = 0;
    PageCacheCounts m_counts;
};

// Serves final requests from the cache and keeps what it fetches for them;
// hands a user's request the answer fetched ahead for it (a request fetched
// ahead reads it without taking it); passes everything else on. Answers from the cache carry fromCache. Like any Web,
// one instance belongs to one job; abort() makes this and every later fetch fail.
class CachingWeb : public Web {
public:
    CachingWeb(Web &inner, std::shared_ptr<PageCache> cache);
    CachingWeb(std::unique_ptr<Web> inner, std::shared_ptr<PageCache> cache);

    FetchOutcome fetch(const HttpRequest &request) override;
    void abort() override;

private:
    std::unique_ptr<Web> m_owned;
    Web &m_inner;
    std::shared_ptr<PageCache> m_cache;
    std::atomic<bool> m_aborted{false};
};

// Marks every request it passes on as final (or as fetched ahead): what a
// step wraps its Web in when it knows the pages it reads cannot change.
class MarkingWeb : public Web {
public:
    enum class Mark { Final, Ahead };
    MarkingWeb(Web &inner, Mark mark) : m_inner(inner), m_mark(mark) {}

    FetchOutcome fetch(const HttpRequest &request) override;
    void abort() override { m_inner.abort(); }

private:
    Web &m_inner;
    Mark m_mark;
};

} // namespace chenglan
