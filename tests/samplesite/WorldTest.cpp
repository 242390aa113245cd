#include "AnalysisPage.h"
#include "Export.h"
#include "World.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <algorithm>
#include <map>
#include <set>

using namespace chenglan::sample;

namespace {

const QDate kToday(2023, 3, 17);

class WorldTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_world = new World(World::generate(World::kDefaultSeed, kToday.addDays(14))); }
    static void TearDownTestSuite() {
        delete s_world;
        s_world = nullptr;
    }
    static const World &world() { return *s_world; }
    static Minutes now() { return minutesAt(kToday, 12, 0); }

    // Every 37th match that has a long enough past, as a spread sample.
    static std::vector<const Match *> sample() {
        std::vector<const Match *> out;
        for (size_t i = 0; i < world().matches().size(); i += 37)
            if (world().matches()[i].kickoff > minutesAt(QDate(2022, 6, 1)))
                out.push_back(&world().matches()[i]);
        return out;
    }

    static World *s_world;
};

World *WorldTest::s_world = nullptr;

bool sameMatch(const Match &a, const Match &b) {
    return a.id == b.id && a.home == b.home && a.away == b.away && a.kickoff == b.kickoff && a.ftHome == b.ftHome
           && a.ftAway == b.ftAway && a.htHome == b.htHome && a.htAway == b.htAway && a.hasOdds == b.hasOdds
           && a.changes.size() == b.changes.size() && a.homeRank == b.homeRank && a.awayRank == b.awayRank
           && (a.changes.empty() || (a.changes.back().time == b.changes.back().time
                                     && a.changes.back().homeOdds == b.changes.back().homeOdds));
}

} // namespace

TEST_F(WorldTest, SameSeedSameWorldAndAnotherSeedAnother) {
    const World again = World::generate(World::kDefaultSeed, kToday.addDays(14));
    ASSERT_EQ(again.matches().size(), world().matches().size());
    for (size_t i = 0; i < again.matches().size(); ++i)
        ASSERT_TRUE(sameMatch(again.matches()[i], world().matches()[i])) << "match " << i;

    const World other = World::generate(7, kToday.addDays(14));
    int sameScores = 0;
    const size_t n = std::min(other.matches().size(), world().matches().size());
    for (size_t i = 0; i < n; ++i)
        sameScores += other.matches()[i].ftHome == world().matches()[i].ftHome
                      && other.matches()[i].ftAway == world().matches()[i].ftAway;
    EXPECT_LT(sameScores, int(n) / 2);
}

// The site's today only decides where the world ends: a site started on a
// later day serves the same past, so recorded match ids stay valid.
TEST_F(WorldTest, CommonPastDoesNotDependOnTheLastDay) {
    const World shorter = World::generate(World::kDefaultSeed, QDate(2022, 7, 20));
    ASSERT_FALSE(shorter.matches().empty());
    EXPECT_GT(world().matches().size(), shorter.matches().size());
    for (size_t i = 0; i < shorter.matches().size(); ++i)
        ASSERT_TRUE(sameMatch(shorter.matches()[i], world().matches()[i])) << "match " << i;
}

TEST_F(WorldTest, CastAndCalendarAsAdvertised) {
    const auto &leagues = world().leagues();
    EXPECT_GE(leagues.size(), 6u);
    std::set<int> teamIds;
    bool longLeague = false, latinLeague = false, shortLeague = false, longTeam = false;
    for (const League &l : leagues) {
        EXPECT_GE(l.teams.size(), 12u);
        EXPECT_LE(l.teams.size(), 20u);
        longLeague |= l.name.size() >= 7;
        shortLeague |= l.name.size() == 2;
        latinLeague |= !l.name.isEmpty() && l.name == l.name.toUpper() && l.name.at(0).unicode() < 0x80;
        for (int t : l.teams) {
            const Team &team = world().teams()[size_t(t)];
            longTeam |= team.name.size() >= 6;
            EXPECT_FALSE(team.name.contains(u',') || team.name.contains(u'|') || team.name.contains(u'$'));
            teamIds.insert(team.id);
        }
    }
    EXPECT_TRUE(longLeague && latinLeague && shortLeague && longTeam);
    EXPECT_EQ(teamIds.size(), world().teams().size());

    EXPECT_EQ(dayOf(world().matches().front().kickoff).year(), 2021);
    EXPECT_GE(dayOf(world().matches().front().kickoff), World::firstDay());
    EXPECT_LE(dayOf(world().matches().back().kickoff), kToday.addDays(14));
    for (size_t i = 1; i < world().matches().size(); ++i) {
        ASSERT_GT(world().matches()[i].id, world().matches()[i - 1].id);
        ASSERT_GE(world().matches()[i].kickoff, world().matches()[i - 1].kickoff);
    }
    // Each club has at least a day of rest between two matches.
    for (size_t t = 0; t < world().teams().size(); ++t) {
        const auto games = world().history(int(t), minutesAt(kToday), now(), 100000);
        for (size_t i = 1; i < games.size(); ++i)
            ASSERT_GE(games[i - 1]->kickoff - games[i]->kickoff, 1440) << world().teams()[t].name.toStdString();
    }
}

TEST_F(WorldTest, HistoriesAreNewestFirstFinishedAndTheTeamsOwn) {
    for (const Match *m : sample()) {
        for (int team : {m->home, m->away}) {
            const auto list = world().history(team, m->kickoff, now(), kHistoryLength);
            EXPECT_LE(list.size(), size_t(kHistoryLength));
            for (size_t i = 0; i < list.size(); ++i) {
                EXPECT_TRUE(list[i]->home == team || list[i]->away == team);
                EXPECT_LT(list[i]->kickoff, m->kickoff);
                EXPECT_TRUE(list[i]->finishedBy(now()));
                if (i > 0) {
                    EXPECT_LT(list[i]->kickoff, list[i - 1]->kickoff);
                }
            }
        }
    }
    // A match still to come lists only what is finished by now.
    const Match &future = world().matches().back();
    for (const Match *m : world().history(future.home, future.kickoff, now(), kHistoryLength))
        EXPECT_TRUE(m->finishedBy(now()));
}

// The client reads the page of the last of the first 30 listed matches and
// appends that page's list of the same team: that list must be exactly the
// team's next older matches, with no gap and no overlap.
TEST_F(WorldTest, PageOfTheOldestUsedMatchContinuesTheHistory) {
    int checked = 0;
    for (const Match *m : sample()) {
        for (int team : {m->home, m->away}) {
            const auto list = world().history(team, m->kickoff, now(), kHistoryLength);
            const auto all = world().history(team, m->kickoff, now(), 100000);
            if (list.empty())
                continue;
            const size_t last = std::min<size_t>(29, list.size() - 1);
            const Match &oldest = *list[last];
            const QStringList record = historyRecord(world(), oldest, team);
            ASSERT_EQ(record.at(15).toInt(), oldest.id);
            const Match *page = world().matchById(record.at(15).toInt());
            ASSERT_NE(page, nullptr);
            // Field 4 names the home side: it picks the page's list of this team.
            const int side = record.at(4).toInt() == world().teams()[size_t(team)].id ? page->home : page->away;
            ASSERT_EQ(side, team);
            const auto older = world().history(side, page->kickoff, now(), kHistoryLength);
            for (size_t i = 0; i < older.size(); ++i)
                ASSERT_EQ(older[i], all[last + 1 + i]);
            EXPECT_EQ(older.size(), std::min<size_t>(kHistoryLength, all.size() - last - 1));
            ++checked;
        }
    }
    EXPECT_GT(checked, 50);
}

TEST_F(WorldTest, RecordsAgreeWithTheResults) {
    std::map<qsizetype, int> lengths;
    for (const Match *m : sample()) {
        for (int team : {m->home, m->away}) {
            for (const Match *past : world().history(team, m->kickoff, now(), kHistoryLength)) {
                const QStringList r = historyRecord(world(), *past, team);
                ++lengths[r.size()];
                const bool home = r.at(4).toInt() == world().teams()[size_t(team)].id;
                ASSERT_TRUE(home || r.at(6).toInt() == world().teams()[size_t(team)].id);
                const int own = r.at(home ? 8 : 9).toInt(), other = r.at(home ? 9 : 8).toInt();
                ASSERT_EQ(r.at(12).toInt(), own > other ? 1 : own == other ? 0 : -1) << r.join(u',').toStdString();
                ASSERT_EQ(r.at(8).toInt(), past->ftHome);
                ASSERT_EQ(r.at(9).toInt(), past->ftAway);
                ASSERT_EQ(r.at(10), QStringLiteral("%1-%2").arg(past->htHome).arg(past->htAway));
                ASSERT_TRUE(QDate::fromString(QStringLiteral("20") + r.at(0), QStringLiteral("yyyy-MM-dd")).isValid());
                for (const QString &field : r)
                    ASSERT_FALSE(field.contains(u',') || field.contains(u'|') || field.contains(u'$'));
            }
        }
    }
    // Records of 17 fields (2021), of 22, and a few over 31 with statistics.
    EXPECT_GT(lengths[17], 0);
    EXPECT_GT(lengths[22], 0);
    EXPECT_GT(lengths[34], 0);
    int total = 0;
    for (const auto &[length, count] : lengths)
        total += count;
    EXPECT_LT(lengths[34] * 20, total);
}

TEST_F(WorldTest, StrongerTeamsWinMoreAndFormDrifts) {
    double strongPoints = 0, weakPoints = 0;
    int strongGames = 0, weakGames = 0;
    int drifting = 0;
    for (size_t t = 0; t < world().teams().size(); ++t) {
        const Team &team = world().teams()[t];
        const auto [low, high] = std::minmax_element(team.weeklyStrength.begin(), team.weeklyStrength.end());
        drifting += *high - *low > 0.2;
        for (const Match *m : world().history(int(t), now(), now(), 100000)) {
            const int own = m->home == int(t) ? m->ftHome : m->ftAway;
            const int other = m->home == int(t) ? m->ftAway : m->ftHome;
            const int points = own > other ? 3 : own == other ? 1 : 0;
            if (team.baseStrength > 0.3) {
                strongPoints += points;
                ++strongGames;
            } else if (team.baseStrength < -0.3) {
                weakPoints += points;
                ++weakGames;
            }
        }
    }
    ASSERT_GT(strongGames, 100);
    ASSERT_GT(weakGames, 100);
    EXPECT_GT(strongPoints / strongGames, weakPoints / weakGames + 0.5);
    EXPECT_GT(drifting, int(world().teams().size()) / 2);
}

TEST_F(WorldTest, HandicapHistoriesLookLikeABookmakers) {
    int withoutOdds = 0, suspended = 0, inPlay = 0, lateAutumnForJanuary = 0, awayFavoured = 0;
    for (const Match &m : world().matches()) {
        if (!m.hasOdds) {
            ++withoutOdds;
            EXPECT_TRUE(m.changes.empty());
            EXPECT_EQ(m.closingOdds(), nullptr);
            continue;
        }
        ASSERT_GE(m.changes.size(), 3u);
        ASSERT_LE(m.changes.size(), 15u);
        EXPECT_EQ(m.changes.front().state, QStringLiteral("初盘"));
        for (size_t i = 0; i < m.changes.size(); ++i) {
            const OddsChange &c = m.changes[i];
            if (i > 0) {
                ASSERT_GT(c.time, m.changes[i - 1].time);
            }
            ASSERT_EQ(c.inPlay(), c.time >= m.kickoff);
            ASSERT_GE(c.time, m.kickoff - 60 * 1440);   // a month-day time stays within the year rule
            suspended += !c.hasOdds;
            inPlay += c.inPlay();
            const QDate day = dayOf(c.time), match = dayOf(m.kickoff);
            lateAutumnForJanuary += match.month() == 1 && day.month() >= 11;
            if (c.hasOdds) {
                ASSERT_GE(c.homeOdds, 0.7);
                ASSERT_LE(c.awayOdds, 1.18);
            }
        }
        const OddsChange *closing = m.closingOdds();
        ASSERT_NE(closing, nullptr);
        EXPECT_LT(closing->time, m.kickoff);
        EXPECT_EQ(m.oddsAt(m.kickoff), closing);
        awayFavoured += closing->line < 0;
    }
    const int n = int(world().matches().size());
    EXPECT_GT(withoutOdds, n / 50);
    EXPECT_LT(withoutOdds, n / 6);
    EXPECT_GT(suspended, 0);
    EXPECT_GT(inPlay, 0);
    EXPECT_GT(lateAutumnForJanuary, 0);
    EXPECT_GT(awayFavoured, n / 10);
}

TEST_F(WorldTest, ExportListsExactlyTheFinishedMatches) {
    const QList<QByteArray> lines = finishedMatchesCsv(world(), now()).split('\n');
    ASSERT_GT(lines.size(), 2);
    const QStringList header = QString::fromUtf8(lines.front()).trimmed().split(u',');
    EXPECT_EQ(header.size(), 18);
    EXPECT_EQ(header.front(), QStringLiteral("match_id"));
    int rows = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        ++rows;
        const QStringList f = QString::fromUtf8(lines[i]).trimmed().split(u',');
        ASSERT_EQ(f.size(), header.size()) << lines[i].toStdString();
        const Match *m = world().matchById(f.at(0).toInt());
        ASSERT_NE(m, nullptr);
        ASSERT_TRUE(m->finishedBy(now()));
        ASSERT_EQ(f.at(12).toInt(), m->ftHome);
        ASSERT_EQ(f.at(13).toInt(), m->ftAway);
        ASSERT_EQ(f.at(6), world().teams()[size_t(m->home)].name);
        ASSERT_EQ(f.at(14).isEmpty(), !m->hasOdds);
    }
    const auto finished = std::count_if(world().matches().begin(), world().matches().end(),
                                        [](const Match &m) { return m.finishedBy(now()); });
    EXPECT_EQ(rows, finished);
}
