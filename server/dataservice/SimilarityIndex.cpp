#include "SimilarityIndex.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

namespace chenglan::dataservice {

namespace {

struct Candidate {
    double distanceSquared;
    std::int64_t kickoff;
    qint64 id;
    const detail::PatternGroup *group;
    std::size_t row;
};

// Closer first, then newer kick-off, then higher id: a total order, so the
// answer never depends on the order rows were loaded in.
bool better(const Candidate &a, const Candidate &b) {
    if (a.distanceSquared != b.distanceSquared)
        return a.distanceSquared < b.distanceSquared;
    if (a.kickoff != b.kickoff)
        return a.kickoff > b.kickoff;
    return a.id > b.id;
}

// The best `limit` candidates seen so far, as a heap with the worst on top.
class TopCandidates {
public:
    explicit TopCandidates(std::size_t limit) : m_limit(limit) { m_heap.reserve(limit + 1); }

    bool full() const { return m_heap.size() >= m_limit; }
    // A candidate farther than this cannot enter.
    double bound() const {
        return full() ? m_heap.front().distanceSquared : std::numeric_limits<double>::infinity();
    }

    void offer(const Candidate &c) {
        if (m_limit == 0)
            return;
        if (!full()) {
            m_heap.push_back(c);
            std::push_heap(m_heap.begin(), m_heap.end(), better);
        } else if (better(c, m_heap.front())) {
            std::pop_heap(m_heap.begin(), m_heap.end(), better);
            m_heap.back() = c;
            std::push_heap(m_heap.begin(), m_heap.end(), better);
        }
    }

    std::vector<Candidate> sorted() && {
        std::sort_heap(m_heap.begin(), m_heap.end(), better);
        return std::move(m_heap);
    }

private:
    std::size_t m_limit;
    std::vector<Candidate> m_heap;
};

// Offers every row of a group to `top`. Distances are computed a block at a
// time in a tight loop, and only rows within the current bound go further.
// The values are whole hundredths, so the sums are exact and ties are ties.
void scanGroup(const detail::PatternGroup &g, const std::array<double, kStrengthCount> &q, qint64 excluded,
               TopCandidates &top) {
    constexpr std::size_t kBlock = 256;
    double distances[kBlock];
    const std::size_t n = g.ids.size();
    for (std::size_t base = 0; base < n; base += kBlock) {
        const std::size_t m = std::min(kBlock, n - base);
        const Strengths *rows = g.strengths.data() + base;
        for (std::size_t j = 0; j < m; ++j) {
            double sum = 0;
            for (int k = 0; k < kStrengthCount; ++k) {
                const double d = double(rows[j][k]) - q[k];
                sum += d * d;
            }
            distances[j] = sum;
        }
        double bound = top.bound();
        for (std::size_t j = 0; j < m; ++j) {
            if (distances[j] > bound)
                continue;
            const std::size_t i = base + j;
            if (g.ids[i] == excluded)
                continue;
            top.offer({distances[j], g.kickoffs[i], g.ids[i], &g, i});
            bound = top.bound();
        }
    }
}

} // namespace

double SimilarHit::distance() const { return std::sqrt(distanceSquared) / 100.0; }

void PrintTo(const SimilarHit &hit, std::ostream *os) {
    *os << "SimilarHit{" << hit.matchId << " d2=" << hit.distanceSquared << " kickoff=" << hit.kickoffMinutes
        << (hit.sameCodes ? " same codes" : "") << "}";
}

std::string groupKey(const QString &code20, const QString &code10) {
    return (code20 + QLatin1Char(',') + code10).toStdString();
}

SimilarityIndex::SimilarityIndex() : m_snapshot(std::make_shared<Snapshot>()) {}

namespace detail {

void PatternGroup::append(qint64 id, const Strengths &s, std::int64_t kickoff, std::string_view record) {
    ids.push_back(id);
    strengths.push_back(s);
    kickoffs.push_back(kickoff);
    records.append(record);
    recordEnds.push_back(std::uint32_t(records.size()));
}

std::string_view PatternGroup::record(std::size_t row) const {
    const std::size_t begin = row == 0 ? 0 : recordEnds[row - 1];
    return std::string_view(records).substr(begin, recordEnds[row] - begin);
}

} // namespace detail

std::shared_ptr<const SimilarityIndex::Snapshot> SimilarityIndex::snapshot() const {
    std::lock_guard lock(m_publishMutex);
    return m_snapshot;
}

std::size_t SimilarityIndex::size() const { return snapshot()->size; }

std::size_t SimilarityIndex::groupCount() const { return snapshot()->groups.size(); }

SimilarityIndex::Groups SimilarityIndex::groups() const { return snapshot()->groups; }

void SimilarityIndex::replace(Groups groups) {
    std::lock_guard writeLock(m_writeMutex);
    auto next = std::make_shared<Snapshot>();
    next->groups = std::move(groups);
    for (const auto &[key, group] : next->groups)
        next->size += group->ids.size();
    std::lock_guard publishLock(m_publishMutex);
    m_snapshot = std::move(next);
}

void SimilarityIndex::apply(const std::vector<IndexEntry> &upserts, const std::vector<qint64> &removals) {
    if (upserts.empty() && removals.empty())
        return;
    std::lock_guard writeLock(m_writeMutex);
    const auto old = snapshot();

    std::unordered_set<qint64> changed;
    changed.reserve(upserts.size() + removals.size());
    for (const auto &e : upserts)
        changed.insert(e.matchId);
    for (qint64 id : removals)
        changed.insert(id);

    auto next = std::make_shared<Snapshot>(*old);
    std::unordered_map<std::string, std::shared_ptr<detail::PatternGroup>> copies;

    // Drop every changed id from the groups that hold it. Only those groups
    // are copied; the others are shared with the old snapshot.
    for (const auto &[key, group] : old->groups) {
        const bool touched = std::any_of(group->ids.begin(), group->ids.end(),
                                         [&](qint64 id) { return changed.contains(id); });
        if (!touched)
            continue;
        auto copy = std::make_shared<detail::PatternGroup>();
        for (std::size_t i = 0; i < group->ids.size(); ++i)
            if (!changed.contains(group->ids[i]))
                copy->append(group->ids[i], group->strengths[i], group->kickoffs[i], group->record(i));
        copies.emplace(key, std::move(copy));
    }

    // Later entries of the same id win.
    std::unordered_map<qint64, const IndexEntry *> latest;
    latest.reserve(upserts.size());
    for (const auto &e : upserts)
        latest[e.matchId] = &e;
    for (const auto &e : upserts) {
        if (latest[e.matchId] != &e)
            continue;
        const std::string key = groupKey(e.code20, e.code10);
        auto it = copies.find(key);
        if (it == copies.end()) {
            auto copy = std::make_shared<detail::PatternGroup>();
            if (auto found = old->groups.find(key); found != old->groups.end())
                *copy = *found->second;
            it = copies.emplace(key, std::move(copy)).first;
        }
        it->second->append(e.matchId, e.strengths, e.kickoffMinutes, e.record);
    }

    for (auto &[key, group] : copies) {
        if (group->ids.empty()) {
            next->groups.erase(key);
            continue;
        }
        group->low.fill(std::numeric_limits<std::int32_t>::max());
        group->high.fill(std::numeric_limits<std::int32_t>::min());
        for (const auto &s : group->strengths)
            for (int k = 0; k < kStrengthCount; ++k) {
                group->low[k] = std::min(group->low[k], s[k]);
                group->high[k] = std::max(group->high[k], s[k]);
            }
        next->groups[key] = std::move(group);
    }
    next->size = 0;
    for (const auto &[key, group] : next->groups)
        next->size += group->ids.size();

    std::lock_guard publishLock(m_publishMutex);
    m_snapshot = std::move(next);
}

std::vector<SimilarHit> SimilarityIndex::search(const SimilarQuery &query, std::size_t limit) const {
    const auto snap = snapshot();
    const Strengths &q = query.strengths;
    std::array<double, kStrengthCount> qd;
    for (int k = 0; k < kStrengthCount; ++k)
        qd[k] = q[k];
    const qint64 excluded = query.excludedMatchId.value_or(std::numeric_limits<qint64>::min());

    std::vector<SimilarHit> hits;
    const std::string sameKey = groupKey(query.code20, query.code10);
    const auto same = snap->groups.find(sameKey);
    if (same != snap->groups.end()) {
        TopCandidates top(limit);
        scanGroup(*same->second, qd, excluded, top);
        for (const auto &c : std::move(top).sorted())
            hits.push_back({c.id, c.distanceSquared, c.kickoff, true,
                            std::string(c.group->record(c.row))});
    }
    if (hits.size() >= limit)
        return hits;

    // The rest: nearest groups first, and a group whose bounding box is
    // farther than the worst kept candidate cannot contribute.
    std::vector<std::pair<double, const detail::PatternGroup *>> others;
    others.reserve(snap->groups.size());
    for (const auto &[key, group] : snap->groups) {
        if (key == sameKey)
            continue;
        double bound = 0;
        for (int k = 0; k < kStrengthCount; ++k) {
            double gap = 0;
            if (q[k] < group->low[k])
                gap = double(group->low[k]) - q[k];
            else if (q[k] > group->high[k])
                gap = double(q[k]) - group->high[k];
            bound += gap * gap;
        }
        others.emplace_back(bound, group.get());
    }
    std::sort(others.begin(), others.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    TopCandidates top(limit - hits.size());
    for (const auto &[bound, group] : others) {
        if (bound > top.bound())
            break;
        scanGroup(*group, qd, excluded, top);
    }
    for (const auto &c : std::move(top).sorted())
        hits.push_back({c.id, c.distanceSquared, c.kickoff, false,
                        std::string(c.group->record(c.row))});
    return hits;
}

} // namespace chenglan::dataservice
