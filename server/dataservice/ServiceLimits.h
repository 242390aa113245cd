#pragma once

#include <chrono>
#include <cstddef>

// Every limit of the data service in one place. The README quotes them.
namespace chenglan::dataservice::limits {

// The answer.
inline constexpr std::size_t kMaxRecords = 30;

// The query text: eleven short fields. Anything longer is not a client's.
inline constexpr std::size_t kMaxQueryChars = 512;
inline constexpr std::size_t kMaxNumberChars = 24;
inline constexpr std::size_t kMaxCodeChars = 8;
inline constexpr std::size_t kMaxMatchIdDigits = 18;
// Strength values are kept in hundredths in 32-bit integers.
inline constexpr double kMaxStrength = 1.0e6;

// HTTP. A request (request line, headers and body) above kMaxRequestBytes is refused.
inline constexpr std::size_t kMaxRequestBytes = 64 * 1024;
// Connections are served by a fixed pool of workers; a few more may wait,
// and anything beyond that is answered 503 at once.
inline constexpr std::size_t kWorkerThreads = 8;
inline constexpr std::size_t kMaxWaitingConnections = 16;
inline constexpr std::size_t kKeepAliveMaxRequests = 100;
inline constexpr std::chrono::seconds kKeepAliveTimeout{2};
// A whole request must arrive within kReadTimeout of its first byte (the
// first request of a connection: of its acceptance), however slowly it
// trickles; a whole answer must go out within kWriteTimeout.
inline constexpr std::chrono::seconds kReadTimeout{5};
inline constexpr std::chrono::seconds kWriteTimeout{5};
// Connections the kernel queues until the server accepts them.
inline constexpr int kListenBacklog = 1024;

// How often the server looks for imports made by another process.
inline constexpr std::chrono::milliseconds kRefreshInterval{1000};
// A similar query that arrives while the index loads waits this long for it,
// then gets 503.
inline constexpr std::chrono::milliseconds kLoadWait{2000};
// The index file beside the database is rewritten at most this often (and
// once more when the service stops): a rewrite is a few hundred megabytes.
inline constexpr std::chrono::seconds kSnapshotInterval{60};
// SQLite waits this long for a lock held by another writer.
inline constexpr int kBusyTimeoutMs = 5000;

// CSV import.
inline constexpr std::size_t kMaxCsvLineBytes = 16 * 1024;
inline constexpr std::size_t kMaxNameChars = 64;
inline constexpr std::size_t kMaxHandicapChars = 32;
inline constexpr int kMaxGoals = 99;
inline constexpr double kMaxOdds = 1000.0;
inline constexpr int kImportBatchLines = 1000;

} // namespace chenglan::dataservice::limits
