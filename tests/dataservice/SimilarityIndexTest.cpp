#include "SimilarityIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace chenglan::dataservice;

namespace {

IndexEntry entry(qint64 id, Strengths s, const char *code20 = "A31", const char *code10 = "D10",
                 std::int64_t kickoff = 1000) {
    return IndexEntry{id, s, QString::fromLatin1(code20), QString::fromLatin1(code10), kickoff,
                      "record " + std::to_string(id) + ","};
}

SimilarQuery query(Strengths s, const char *code20 = "A31", const char *code10 = "D10",
                   std::optional<qint64> excluded = std::nullopt) {
    return SimilarQuery{{s, QString::fromLatin1(code20), QString::fromLatin1(code10)}, excluded};
}

std::vector<qint64> ids(const std::vector<SimilarHit> &hits) {
    std::vector<qint64> out;
    for (const auto &h : hits)
        out.push_back(h.matchId);
    return out;
}

// Strengths with the first value set, the rest 0.
Strengths first(std::int32_t v) { return Strengths{v, 0, 0, 0, 0, 0, 0, 0}; }

} // namespace

TEST(SimilarityIndexSearch, SameCodesComeFirstThenTheRestEachByDistance) {
    SimilarityIndex index;
    index.apply({entry(1, first(500)),                // same codes, far
                 entry(2, first(100)),                // same codes, near
                 entry(3, first(0), "B11", "D10"),    // other codes, exact
                 entry(4, first(50), "A31", "C10"),   // other codes, near
                 entry(5, first(-300), "A30", "D10")}, {});
    const auto hits = index.search(query(first(0)));
    EXPECT_EQ(ids(hits), (std::vector<qint64>{2, 1, 3, 4, 5}));
    EXPECT_TRUE(hits[0].sameCodes);
    EXPECT_TRUE(hits[1].sameCodes);
    EXPECT_FALSE(hits[2].sameCodes);
    EXPECT_DOUBLE_EQ(hits[0].distance(), 1.0);
    EXPECT_DOUBLE_EQ(hits[2].distance(), 0.0);
}

TEST(SimilarityIndexSearch, DistanceCountsAllEightValues) {
    SimilarityIndex index;
    index.apply({entry(1, Strengths{0, 0, 0, 0, 0, 0, 0, 30}), entry(2, Strengths{10, 10, 10, 10, 0, 0, 0, 0})}, {});
    const auto hits = index.search(query(Strengths{}));
    EXPECT_EQ(ids(hits), (std::vector<qint64>{2, 1})); // 4 x 10^2 = 400 < 30^2 = 900
    EXPECT_DOUBLE_EQ(hits[0].distanceSquared, 400);
}

TEST(SimilarityIndexSearch, QueriedMatchIsNeverAnswered) {
    SimilarityIndex index;
    index.apply({entry(7, first(0)), entry(8, first(10)), entry(9, first(0), "B00", "C33")}, {});
    EXPECT_EQ(ids(index.search(query(first(0), "A31", "D10", 7))), (std::vector<qint64>{8, 9}));
    EXPECT_EQ(ids(index.search(query(first(0), "A31", "D10", 9))), (std::vector<qint64>{7, 8}));
}

TEST(SimilarityIndexSearch, AtMostThirtyRecords) {
    SimilarityIndex index;
    std::vector<IndexEntry> entries;
    for (int i = 0; i < 50; ++i)
        entries.push_back(entry(100 + i, first(i)));
    for (int i = 0; i < 50; ++i)
        entries.push_back(entry(200 + i, first(i), "B11", "D11"));
    index.apply(entries, {});

    const auto full = index.search(query(first(0)));
    ASSERT_EQ(full.size(), 30u);
    EXPECT_EQ(full.front().matchId, 100);
    EXPECT_EQ(full.back().matchId, 129);

    // The other group of fifty fills all thirty places too.
    const auto mixed = index.search(query(first(0), "B11", "D11", std::nullopt));
    ASSERT_EQ(mixed.size(), 30u);
    EXPECT_TRUE(std::all_of(mixed.begin(), mixed.end(), [](const SimilarHit &h) { return h.sameCodes; }));

    // Ten with the same codes, then the twenty nearest of the rest.
    SimilarityIndex small;
    std::vector<IndexEntry> few;
    for (int i = 0; i < 10; ++i)
        few.push_back(entry(i + 1, first(i)));
    for (int i = 0; i < 40; ++i)
        few.push_back(entry(100 + i, first(i), "B11", "D11"));
    small.apply(few, {});
    const auto hits = small.search(query(first(0)));
    ASSERT_EQ(hits.size(), 30u);
    EXPECT_EQ(std::count_if(hits.begin(), hits.end(), [](const SimilarHit &h) { return h.sameCodes; }), 10);
    EXPECT_EQ(hits[10].matchId, 100);
    EXPECT_EQ(hits[29].matchId, 119);
}

TEST(SimilarityIndexSearch, EqualDistancesPutTheNewerKickoffFirstThenTheHigherId) {
    SimilarityIndex index;
    index.apply({entry(1, first(10), "A31", "D10", 5000), entry(2, first(-10), "A31", "D10", 9000),
                 entry(3, first(10), "A31", "D10", 9000), entry(4, first(0), "A31", "D10", 1)},
                {});
    EXPECT_EQ(ids(index.search(query(first(0)))), (std::vector<qint64>{4, 3, 2, 1}));
    // The same tie-break decides who is cut off at the limit.
    EXPECT_EQ(ids(index.search(query(first(0)), 2)), (std::vector<qint64>{4, 3}));
}

TEST(SimilarityIndexSearch, EmptyIndexAnswersNothing) {
    SimilarityIndex index;
    EXPECT_TRUE(index.search(query(first(0))).empty());
}

TEST(SimilarityIndexApply, ReplacesMovesAndRemovesEntries) {
    SimilarityIndex index;
    index.apply({entry(1, first(0)), entry(2, first(10)), entry(3, first(20))}, {});
    EXPECT_EQ(index.size(), 3u);

    // Match 1 gets new codes, match 2 a new profile, match 3 goes away.
    IndexEntry changed = entry(2, first(500));
    changed.record = "new record 2,";
    index.apply({entry(1, first(0), "B00", "C00"), changed}, {3});
    EXPECT_EQ(index.size(), 2u);
    const auto hits = index.search(query(first(0)));
    EXPECT_EQ(ids(hits), (std::vector<qint64>{2, 1}));
    // Each hit carries its own record, also after its group was rebuilt.
    EXPECT_EQ(hits[0].record, "new record 2,");
    EXPECT_EQ(hits[1].record, "record 1,");
    EXPECT_TRUE(hits[0].sameCodes);
    EXPECT_FALSE(hits[1].sameCodes);
    EXPECT_EQ(index.groupCount(), 2u);

    index.apply({}, {1, 2, 99});
    EXPECT_EQ(index.size(), 0u);
    EXPECT_EQ(index.groupCount(), 0u);
}

TEST(SimilarityIndexApply, TheLaterOfTwoEntriesForOneIdWins) {
    SimilarityIndex index;
    index.apply({entry(1, first(0)), entry(1, first(900), "B11", "D11")}, {});
    EXPECT_EQ(index.size(), 1u);
    const auto hits = index.search(query(first(0)));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_FALSE(hits[0].sameCodes);
}

TEST(SimilarityIndexApply, ASearchKeepsTheSnapshotItStartedWith) {
    SimilarityIndex index;
    index.apply({entry(1, first(0))}, {});
    const auto before = index.search(query(first(0)));
    index.apply({entry(2, first(0))}, {1});
    EXPECT_EQ(ids(before), (std::vector<qint64>{1}));
    EXPECT_EQ(ids(index.search(query(first(0)))), (std::vector<qint64>{2}));
}

// The group pruning and the heap must give exactly what sorting everything gives.
TEST(SimilarityIndexSearch, AgreesWithSortingEveryCandidate) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> value(-150, 150);
    std::uniform_int_distribution<int> kickoff(0, 20);
    const char *const codes20[] = {"A31", "B11", "A00", "B30"};
    const char *const codes10[] = {"C10", "D11", "C33"};
    std::vector<IndexEntry> entries;
    for (int i = 0; i < 3000; ++i) {
        Strengths s;
        for (auto &v : s)
            v = value(random) / 10 * 10; // coarse values make ties common
        entries.push_back(entry(i + 1, s, codes20[i % 4], codes10[i % 3], kickoff(random)));
    }
    SimilarityIndex index;
    index.apply(entries, {});

    for (int round = 0; round < 60; ++round) {
        Strengths q;
        for (auto &v : q)
            v = value(random);
        const char *c20 = codes20[round % 4];
        const char *c10 = round % 7 == 0 ? "X99" : codes10[round % 3];
        const qint64 excluded = 1 + round * 37;

        struct Row {
            bool same;
            double d2;
            std::int64_t kickoff;
            qint64 id;
        };
        std::vector<Row> all;
        for (const auto &e : entries) {
            if (e.matchId == excluded)
                continue;
            double d2 = 0;
            for (int k = 0; k < kStrengthCount; ++k)
                d2 += double(e.strengths[k] - q[k]) * double(e.strengths[k] - q[k]);
            all.push_back({e.code20 == QLatin1String(c20) && e.code10 == QLatin1String(c10), d2, e.kickoffMinutes,
                           e.matchId});
        }
        std::sort(all.begin(), all.end(), [](const Row &a, const Row &b) {
            if (a.same != b.same)
                return a.same;
            if (a.d2 != b.d2)
                return a.d2 < b.d2;
            if (a.kickoff != b.kickoff)
                return a.kickoff > b.kickoff;
            return a.id > b.id;
        });
        std::vector<qint64> expected;
        for (std::size_t i = 0; i < 30; ++i)
            expected.push_back(all[i].id);
        EXPECT_EQ(ids(index.search(query(q, c20, c10, excluded))), expected) << "round " << round;
    }
}
