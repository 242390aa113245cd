#pragma once

#include "MatchRecords.h"
#include "ServiceLimits.h"
#include "SimilarQuery.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The strength profiles of all finished matches, held in memory and grouped
// by their pair of pattern codes, so that a query scans eight numbers a row
// instead of asking the database to sort a million rows.
namespace chenglan::dataservice {

// One finished match with a profile, and the bytes its answer record starts
// with (written once, when the match enters the index).
struct IndexEntry {
    qint64 matchId = 0;
    Strengths strengths{};
    QString code20;
    QString code10;
    std::int64_t kickoffMinutes = 0;
    std::string record;
};

// One match of an answer. distanceSquared is in hundredths squared.
struct SimilarHit {
    qint64 matchId = 0;
    double distanceSquared = 0;
    std::int64_t kickoffMinutes = 0;
    bool sameCodes = false;
    std::string record;

    double distance() const;
    bool operator==(const SimilarHit &) const = default;
};

void PrintTo(const SimilarHit &hit, std::ostream *os);

namespace detail {

// The entries of one pair of pattern codes, column by column, so that a scan
// reads only the strength values.
struct PatternGroup {
    std::vector<Strengths> strengths;
    std::vector<qint64> ids;
    std::vector<std::int64_t> kickoffs;
    std::string records;                    // all record bytes, one after the other
    std::vector<std::uint32_t> recordEnds;  // where each one ends
    Strengths low{};                        // bounding box of the strengths
    Strengths high{};

    void append(qint64 id, const Strengths &s, std::int64_t kickoff, std::string_view record);
    std::string_view record(std::size_t row) const;
};

} // namespace detail

// The similarity rule. The matches whose two pattern codes both equal the
// query's come first, then all others; within each group by Euclidean
// distance over the eight strength values; equal distances put the newer
// kick-off first, then the higher match id. The queried match id is never
// answered. At most `limit` hits.
//
// Readers search a published snapshot and never wait for a writer: apply()
// copies only the groups it changes and then swaps the snapshot. The index
// answers without the database: each entry keeps its record bytes.
class SimilarityIndex {
public:
    using Groups = std::unordered_map<std::string, std::shared_ptr<const detail::PatternGroup>>;

    SimilarityIndex();

    // Adds or replaces the entries and drops the removed ids (unknown ids are
    // ignored). An id in both lists is replaced.
    void apply(const std::vector<IndexEntry> &upserts, const std::vector<qint64> &removals);

    std::vector<SimilarHit> search(const SimilarQuery &query, std::size_t limit = limits::kMaxRecords) const;

    std::size_t size() const;
    std::size_t groupCount() const;

    // The groups as the readers see them now (for writing them to a file).
    Groups groups() const;
    // Replaces every entry by these groups, each whole with its bounding box
    // (as read back from such a file).
    void replace(Groups groups);

private:
    struct Snapshot {
        Groups groups;
        std::size_t size = 0;
    };

    std::shared_ptr<const Snapshot> snapshot() const;

    mutable std::mutex m_publishMutex;
    std::shared_ptr<const Snapshot> m_snapshot;

    std::mutex m_writeMutex; // one apply() at a time
};

// The group key of a pair of pattern codes.
std::string groupKey(const QString &code20, const QString &code10);

} // namespace chenglan::dataservice
