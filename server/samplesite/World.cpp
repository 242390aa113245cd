#include "World.h"

#include "Leagues.h"
#include "Random.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace chenglan::sample {

Minutes minutesAt(const QDate &day, int hour, int minute) {
    return QDate(1970, 1, 1).daysTo(day) * 1440 + hour * 60 + minute;
}

QDateTime dateTimeOf(Minutes when) { return QDateTime::fromSecsSinceEpoch(when * 60, Qt::UTC); }

QDate dayOf(Minutes when) {
    const qint64 days = when >= 0 ? when / 1440 : -((-when + 1439) / 1440);
    return QDate(1970, 1, 1).addDays(days);
}

QString weekdayName(const QDate &day) {
    static const QString names[] = {QStringLiteral("周一"), QStringLiteral("周二"), QStringLiteral("周三"),
                                    QStringLiteral("周四"), QStringLiteral("周五"), QStringLiteral("周六"),
                                    QStringLiteral("周日")};
    return names[day.dayOfWeek() - 1];
}

const OddsChange *Match::oddsAt(Minutes now) const {
    const OddsChange *found = nullptr;
    for (const OddsChange &c : changes) {
        if (c.time > now || c.inPlay())
            break;
        if (c.hasOdds)
            found = &c;
    }
    return found;
}

const OddsChange *Match::closingOdds() const {
    for (auto it = changes.rbegin(); it != changes.rend(); ++it)
        if (!it->inPlay() && it->hasOdds)
            return &*it;
    return nullptr;
}

namespace {

struct Fixture {
    int league = 0;
    int season = 0;
    int round = 0;
    int home = 0;
    int away = 0;
    Minutes kickoff = 0;
};

QDate firstSaturdayFrom(const QDate &day) { return day.addDays((6 - day.dayOfWeek() + 7) % 7); }

bool inWinterBreak(const QDate &saturday) {
    return (saturday.month() == 12 && saturday.day() >= 18) || (saturday.month() == 1 && saturday.day() <= 14);
}

template <typename T>
void shuffle(std::vector<T> &items, Random &rng) {
    for (int i = int(items.size()) - 1; i > 0; --i)
        std::swap(items[i], items[rng.between(0, i)]);
}

// A double round robin by the circle method; the second half repeats the
// first with home and away swapped.
void addSeason(std::vector<Fixture> &out, const std::vector<League> &leagues, int leagueIndex,
               const LeagueDefinition &definition, int season, quint64 seed) {
    Random rng = Random::stream(seed, 1, definition.id, season);
    std::vector<int> order = leagues[leagueIndex].teams;
    shuffle(order, rng);
    const int n = int(order.size());
    const int half = n - 1;
    const QDate start =
        definition.springAutumn ? firstSaturdayFrom(QDate(season, 3, 1)) : firstSaturdayFrom(QDate(season, 8, 8));
    int week = 0;
    for (int round = 0; round < 2 * half; ++round) {
        QDate saturday = start.addDays(7 * week);
        while (definition.winterBreak && inWinterBreak(saturday))
            saturday = start.addDays(7 * ++week);
        ++week;
        std::vector<int> ring = order;
        std::rotate(ring.begin() + 1, ring.begin() + 1 + (round % half), ring.end());
        for (int i = 0; i < n / 2; ++i) {
            int a = ring[i], b = ring[n - 1 - i];
            if ((round + i) % 2 == 1)
                std::swap(a, b);
            if (round >= half)
                std::swap(a, b);
            const int slot = definition.kickoffSlots[rng.between(0, int(definition.kickoffSlots.size()) - 1)];
            // A third of each round is played midweek (Monday to Thursday
            // evening), so that every day of the lottery's week lists matches.
            const Minutes midweek = minutesAt(saturday) + (2 + (round + i) % 4) * 24 * 60 + 19 * 60 + 30;
            out.push_back({leagueIndex, season, round + 1, a, b, i % 3 == 2 ? midweek : minutesAt(saturday) + slot});
        }
    }
}

double round25(double x) { return std::round(x * 4.0) / 4.0; }
double round2(double x) { return std::round(x * 100.0) / 100.0; }

double poissonP(double mean, int k) {
    double p = std::exp(-mean);
    for (int i = 1; i <= k; ++i)
        p *= mean / i;
    return p;
}

// Win, draw and loss chances of the home side under independent Poisson goals.
std::array<double, 3> outcomeChances(double home, double away) {
    std::array<double, 3> p{0, 0, 0};
    for (int h = 0; h <= 10; ++h)
        for (int a = 0; a <= 10; ++a) {
            const double q = poissonP(home, h) * poissonP(away, a);
            p[h > a ? 0 : h == a ? 1 : 2] += q;
        }
    return p;
}

double oddsClamp(double x) { return std::clamp(round2(x), 0.70, 1.18); }

std::vector<int> goalMinutes(Random &rng, int firstHalf, int total) {
    std::vector<int> minutes;
    for (int i = 0; i < total; ++i)
        minutes.push_back(i < firstHalf ? rng.between(1, 45) : rng.between(46, 90));
    std::sort(minutes.begin(), minutes.end());
    return minutes;
}

int goalsBy(const std::vector<int> &minutes, int minute) {
    return int(std::count_if(minutes.begin(), minutes.end(), [minute](int m) { return m <= minute; }));
}

Minutes clockOf(Minutes kickoff, int minute) { return kickoff + minute + (minute > 45 ? 15 : 0); }

void makeOdds(Match &m, Random &rng, double expectedMargin, const std::vector<int> &homeGoals,
              const std::vector<int> &awayGoals) {
    const bool longLead = rng.chance(0.05);
    const Minutes lead = longLead ? rng.between(30 * 1440, 60 * 1440) : rng.between(2 * 1440, 10 * 1440);
    const Minutes opening = m.kickoff - lead;
    const int preMatch = rng.between(3, 12);
    std::vector<Minutes> times{opening};
    for (int i = 1; i < preMatch; ++i)
        times.push_back(opening + 1 + Minutes(rng.uniform() * double(lead - 12)));
    std::sort(times.begin(), times.end());
    for (size_t i = 1; i < times.size(); ++i)
        times[i] = std::max(times[i], times[i - 1] + 1);

    double line = std::clamp(round25(expectedMargin + rng.normal(0, 0.15)), -3.0, 3.0);
    double home = oddsClamp(0.93 - (expectedMargin - line) * 1.6 + rng.normal(0, 0.03));
    double away = oddsClamp(1.86 - home + rng.normal(0, 0.01));
    for (size_t i = 0; i < times.size(); ++i) {
        if (i > 0) {
            if (rng.chance(0.25)) {
                line = std::clamp(line + (expectedMargin > line ? 0.25 : -0.25), -3.0, 3.0);
                home = oddsClamp(0.90 + rng.normal(0, 0.05));
            } else {
                home = oddsClamp(home + rng.normal(0, 0.04));
            }
            away = oddsClamp(1.86 - home + rng.normal(0, 0.01));
        }
        OddsChange c;
        c.time = times[i];
        c.state = i == 0 ? QStringLiteral("初盘")
                         : (m.kickoff - times[i] > 1440 ? QStringLiteral("早盘") : QStringLiteral("即时"));
        c.line = line;
        c.homeOdds = home;
        c.awayOdds = away;
        m.changes.push_back(c);
    }
    // A market suspended for a while before kick-off.
    if (m.changes.size() >= 3 && rng.chance(0.15)) {
        const size_t at = size_t(rng.between(1, int(m.changes.size()) - 1));
        if (m.changes[at].time - m.changes[at - 1].time >= 2) {
            OddsChange pause = m.changes[at - 1];
            pause.time = (m.changes[at - 1].time + m.changes[at].time) / 2;
            pause.hasOdds = false;
            pause.state = m.kickoff - pause.time > 1440 ? QStringLiteral("早盘") : QStringLiteral("即时");
            m.changes.insert(m.changes.begin() + qsizetype(at), pause);
        }
    }
    // A few changes during play, one of them perhaps a suspension after a goal.
    const int inPlay = rng.chance(0.6) ? rng.between(1, 2) : 0;
    std::vector<int> minutes;
    for (int i = 0; i < inPlay; ++i)
        minutes.push_back(rng.between(8, 88));
    std::sort(minutes.begin(), minutes.end());
    minutes.erase(std::unique(minutes.begin(), minutes.end()), minutes.end());
    const bool pauseAfterGoal = !homeGoals.empty() && rng.chance(0.3);
    for (int minute : minutes) {
        if (m.changes.size() >= 15)
            break;
        const double remaining = expectedMargin * (90 - minute) / 90.0;
        OddsChange c;
        c.time = clockOf(m.kickoff, minute);
        c.state = QStringLiteral("滚");
        c.score = QStringLiteral("%1-%2").arg(goalsBy(homeGoals, minute)).arg(goalsBy(awayGoals, minute));
        c.line = std::clamp(round25(remaining), -3.0, 3.0);
        c.homeOdds = oddsClamp(0.92 + rng.normal(0, 0.06));
        c.awayOdds = oddsClamp(1.86 - c.homeOdds);
        m.changes.push_back(c);
    }
    const Minutes pauseTime = homeGoals.empty() ? 0 : clockOf(m.kickoff, homeGoals.front()) + 1;
    const bool pauseFree =
        std::none_of(m.changes.begin(), m.changes.end(), [&](const OddsChange &o) { return o.time == pauseTime; });
    if (pauseAfterGoal && pauseFree && m.changes.size() < 15) {
        const int goal = homeGoals.front();
        OddsChange c;
        c.time = pauseTime;
        c.state = QStringLiteral("滚");
        c.score = QStringLiteral("%1-%2").arg(goalsBy(homeGoals, goal)).arg(goalsBy(awayGoals, goal));
        c.hasOdds = false;
        const auto pos = std::find_if(m.changes.begin(), m.changes.end(),
                                      [&](const OddsChange &o) { return o.inPlay() && o.time > c.time; });
        c.line = pos != m.changes.end() ? pos->line : m.changes.back().line;
        m.changes.insert(pos, c);
    }
}

MatchStats makeStats(Random &rng, const Match &m, double margin) {
    MatchStats s{};
    s[0] = m.ftHome * 2 + rng.poisson(9);
    s[1] = m.ftAway * 2 + rng.poisson(7);
    s[2] = std::min(s[0], m.ftHome + rng.poisson(3));
    s[3] = std::min(s[1], m.ftAway + rng.poisson(2));
    s[4] = rng.poisson(5);
    s[5] = rng.poisson(4);
    s[6] = std::clamp(int(std::lround(52 + 9 * margin + rng.normal(0, 5))), 28, 72);
    s[7] = 100 - s[6];
    s[8] = rng.poisson(1.8);
    s[9] = rng.poisson(2.0);
    s[10] = rng.chance(0.05) ? 1 : 0;
    s[11] = rng.chance(0.06) ? 1 : 0;
    return s;
}

std::vector<StandingRow> sortedTable(std::vector<StandingRow> rows, const std::vector<Team> &teams) {
    std::sort(rows.begin(), rows.end(), [&](const StandingRow &a, const StandingRow &b) {
        if (a.points() != b.points())
            return a.points() > b.points();
        const int da = a.goalsFor - a.goalsAgainst, db = b.goalsFor - b.goalsAgainst;
        if (da != db)
            return da > db;
        if (a.goalsFor != b.goalsFor)
            return a.goalsFor > b.goalsFor;
        return teams[a.team].id < teams[b.team].id;
    });
    return rows;
}

void record(std::vector<StandingRow> &table, const Match &m) {
    for (StandingRow &row : table) {
        const bool home = row.team == m.home;
        if (!home && row.team != m.away)
            continue;
        const int own = home ? m.ftHome : m.ftAway;
        const int other = home ? m.ftAway : m.ftHome;
        ++row.played;
        row.goalsFor += own;
        row.goalsAgainst += other;
        if (own > other)
            ++row.won;
        else if (own == other)
            ++row.drawn;
        else
            ++row.lost;
    }
}

std::vector<StandingRow> emptyTable(const League &league) {
    std::vector<StandingRow> rows;
    for (int t : league.teams)
        rows.push_back({t});
    return rows;
}

} // namespace

World World::generate(quint64 seed, const QDate &lastDay) {
    World w;
    w.m_seed = seed;
    w.m_lastDay = lastDay;
    const QDate first = firstDay();
    const qint64 weeks = std::max<qint64>(1, first.daysTo(lastDay) / 7 + 2);

    int teamNumber = 0;
    for (const LeagueDefinition &definition : leagueDefinitions()) {
        League league{definition.id,
                      definition.name,
                      definition.shortName,
                      definition.colour,
                      definition.springAutumn,
                      definition.compactStyle,
                      {}};
        for (const QString &name : definition.teams) {
            Team t;
            // Scattered, stable ids as a real site's database would hand out.
            t.id = 37 + int((quint64(teamNumber) * 7919) % 2999);
            ++teamNumber;
            t.name = name;
            t.venue = name.at(0).unicode() < 0x80 ? name + QStringLiteral(" STADIUM")
                                                  : name.left(2) + QStringLiteral("体育场");
            t.league = int(w.m_leagues.size());
            Random strength = Random::stream(seed, 3, t.id);
            t.baseStrength = strength.normal(0.0, 0.33);
            double form = t.baseStrength;
            for (qint64 k = 0; k < weeks; ++k) {
                form = t.baseStrength + 0.93 * (form - t.baseStrength) + strength.normal(0.0, 0.06);
                t.weeklyStrength.push_back(form);
            }
            league.teams.push_back(int(w.m_teams.size()));
            w.m_teams.push_back(std::move(t));
        }
        w.m_leagues.push_back(std::move(league));
    }

    std::vector<Fixture> fixtures;
    const auto &definitions = leagueDefinitions();
    for (int l = 0; l < int(definitions.size()); ++l)
        for (int season = 2021; season <= lastDay.year(); ++season)
            addSeason(fixtures, w.m_leagues, l, definitions[size_t(l)], season, seed);
    const Minutes from = minutesAt(first), until = minutesAt(lastDay.addDays(1));
    std::erase_if(fixtures, [&](const Fixture &f) { return f.kickoff < from || f.kickoff >= until; });
    std::sort(fixtures.begin(), fixtures.end(), [&](const Fixture &a, const Fixture &b) {
        if (a.kickoff != b.kickoff)
            return a.kickoff < b.kickoff;
        if (a.league != b.league)
            return w.m_leagues[size_t(a.league)].id < w.m_leagues[size_t(b.league)].id;
        return w.m_teams[size_t(a.home)].id < w.m_teams[size_t(b.home)].id;
    });

    std::map<std::pair<int, int>, std::vector<StandingRow>> tables;
    w.m_teamMatches.resize(w.m_teams.size());
    w.m_matches.reserve(fixtures.size());
    for (size_t i = 0; i < fixtures.size(); ++i) {
        const Fixture &f = fixtures[i];
        Match m;
        m.id = 1900000 + int(3 * i + Random::mix(i) % 3);
        m.league = f.league;
        m.season = f.season;
        m.round = f.round;
        m.home = f.home;
        m.away = f.away;
        m.kickoff = f.kickoff;

        Random rng = Random::stream(seed, 2, m.id);
        const size_t week = size_t(std::clamp<qint64>((f.kickoff - from) / (7 * 1440), 0, weeks - 1));
        const double margin =
            w.m_teams[size_t(f.home)].weeklyStrength[week] - w.m_teams[size_t(f.away)].weeklyStrength[week];
        const double homeMean = 1.42 * std::exp(0.8 * margin);
        const double awayMean = 1.10 * std::exp(-0.8 * margin);
        m.ftHome = rng.poisson(homeMean);
        m.ftAway = rng.poisson(awayMean);
        for (int g = 0; g < m.ftHome; ++g)
            m.htHome += rng.chance(0.44) ? 1 : 0;
        for (int g = 0; g < m.ftAway; ++g)
            m.htAway += rng.chance(0.44) ? 1 : 0;
        const std::vector<int> homeGoals = goalMinutes(rng, m.htHome, m.ftHome);
        const std::vector<int> awayGoals = goalMinutes(rng, m.htAway, m.ftAway);

        const double market = homeMean - awayMean + rng.normal(0, 0.12);
        const auto chances = outcomeChances(std::max(0.2, homeMean + rng.normal(0, 0.05)),
                                            std::max(0.2, awayMean + rng.normal(0, 0.05)));
        m.spHome = std::max(1.01, round2(0.89 / chances[0]));
        m.spDraw = std::max(1.01, round2(0.89 / chances[1]));
        m.spAway = std::max(1.01, round2(0.89 / chances[2]));
        m.letBall = std::abs(market) < 0.5 ? 0 : -int(std::clamp<long>(std::lround(market), -3, 3));
        m.hasOdds = rng.chance(0.93);
        if (m.hasOdds)
            makeOdds(m, rng, market, homeGoals, awayGoals);
        m.detailedStats = rng.chance(0.0125);
        if (m.detailedStats)
            m.stats = makeStats(rng, m, margin);

        auto &table = tables[{f.league, f.season}];
        if (table.empty())
            table = emptyTable(w.m_leagues[size_t(f.league)]);
        const auto ranked = sortedTable(table, w.m_teams);
        for (size_t r = 0; r < ranked.size(); ++r) {
            if (ranked[r].played == 0)
                continue;
            if (ranked[r].team == m.home)
                m.homeRank = int(r) + 1;
            if (ranked[r].team == m.away)
                m.awayRank = int(r) + 1;
        }
        record(table, m);

        w.m_teamMatches[size_t(m.home)].push_back(int(w.m_matches.size()));
        w.m_teamMatches[size_t(m.away)].push_back(int(w.m_matches.size()));
        w.m_matches.push_back(std::move(m));
    }
    return w;
}

const Match *World::matchById(int id) const {
    const auto it = std::lower_bound(m_matches.begin(), m_matches.end(), id,
                                     [](const Match &m, int value) { return m.id < value; });
    return it != m_matches.end() && it->id == id ? &*it : nullptr;
}

std::vector<const Match *> World::history(int team, Minutes before, Minutes now, int limit) const {
    std::vector<const Match *> out;
    const auto &list = m_teamMatches[size_t(team)];
    auto it = std::lower_bound(list.begin(), list.end(), before,
                               [&](int index, Minutes value) { return m_matches[size_t(index)].kickoff < value; });
    while (it != list.begin() && int(out.size()) < limit) {
        const Match &m = m_matches[size_t(*--it)];
        if (m.finishedBy(now))
            out.push_back(&m);
    }
    return out;
}

std::vector<const Match *> World::meetings(int teamA, int teamB, Minutes before, Minutes now, int limit) const {
    std::vector<const Match *> out;
    for (const Match *m : history(teamA, before, now, int(m_matches.size()))) {
        if (int(out.size()) >= limit)
            break;
        if (m->home == teamB || m->away == teamB)
            out.push_back(m);
    }
    return out;
}

std::vector<const Match *> World::fixturesAfter(int team, Minutes after, int limit) const {
    std::vector<const Match *> out;
    for (int index : m_teamMatches[size_t(team)]) {
        const Match &m = m_matches[size_t(index)];
        if (m.kickoff > after && int(out.size()) < limit)
            out.push_back(&m);
    }
    return out;
}

std::vector<const Match *> World::kickingOffBetween(Minutes from, Minutes to) const {
    std::vector<const Match *> out;
    auto it = std::lower_bound(m_matches.begin(), m_matches.end(), from,
                               [](const Match &m, Minutes value) { return m.kickoff < value; });
    for (; it != m_matches.end() && it->kickoff < to; ++it)
        out.push_back(&*it);
    return out;
}

std::vector<StandingRow> World::standings(int league, int season, Minutes before) const {
    std::vector<StandingRow> table = emptyTable(m_leagues[size_t(league)]);
    for (const Match &m : m_matches) {
        if (m.kickoff >= before)
            break;
        if (m.league == league && m.season == season && m.finishedBy(before))
            record(table, m);
    }
    return sortedTable(std::move(table), m_teams);
}

} // namespace chenglan::sample
