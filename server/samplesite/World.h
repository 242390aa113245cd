#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

#include <array>
#include <vector>

namespace chenglan::sample {

// Times of the world are whole minutes since 1970-01-01 00:00 in the sites'
// own clock (Beijing time, no daylight saving), so ordering and arithmetic
// are plain integer work.
using Minutes = qint64;

Minutes minutesAt(const QDate &day, int hour = 0, int minute = 0);
QDateTime dateTimeOf(Minutes when); // a QDateTime in UTC terms that holds site time
QDate dayOf(Minutes when);

// A match counts as finished (score published) this long after kick-off.
constexpr Minutes kMatchLength = 115;

struct League {
    int id = 0;
    QString name;
    QString shortName;
    QString colour; // "#RRGGBB"
    bool springAutumn = false;
    bool compactStyle = false;
    std::vector<int> teams; // indices into World::teams()
};

struct Team {
    int id = 0;
    QString name;
    QString venue;
    int league = 0; // index into World::leagues()
    double baseStrength = 0.0;
    std::vector<double> weeklyStrength; // drifting form, one value per week of the world
};

// One row of a bookmaker's handicap history. Pre-match rows carry the state
// "初盘" (opening), "早盘" (more than a day before kick-off) or "即时"; rows
// made during play carry "滚" and the score of the moment. A row without odds
// is a suspended market.
struct OddsChange {
    Minutes time = 0;
    QString state;
    QString score; // in play only, e.g. "1-0"
    bool hasOdds = true;
    double line = 0.0; // goals the home side gives; negative when it receives
    double homeOdds = 0.0;
    double awayOdds = 0.0;
    bool inPlay() const { return !score.isEmpty(); }
};

// Shots, shots on target, corners, possession, yellow and red cards, home
// value then away value; published for a few matches only.
using MatchStats = std::array<int, 12>;

struct Match {
    int id = 0;
    int league = 0; // index into World::leagues()
    int season = 0; // year the season started
    int round = 0;
    int home = 0; // index into World::teams()
    int away = 0;
    Minutes kickoff = 0;
    int htHome = 0, htAway = 0, ftHome = 0, ftAway = 0;
    int homeRank = 0, awayRank = 0;            // league positions before the match
    int letBall = 0;                           // whole-goal handicap of the lottery games: -1 = home gives one
    double spHome = 0, spDraw = 0, spAway = 0; // lottery win/draw/lose prices
    bool hasOdds = false;
    std::vector<OddsChange> changes; // oldest first
    bool detailedStats = false;
    MatchStats stats{};

    bool finishedBy(Minutes now) const { return kickoff + kMatchLength <= now; }
    // The handicap as published at `now`: the newest pre-match row with odds
    // made by then, or none.
    const OddsChange *oddsAt(Minutes now) const;
    // The last pre-match line (the closing line), or none for a match without odds.
    const OddsChange *closingOdds() const;
};

struct StandingRow {
    int team = 0;
    int played = 0, won = 0, drawn = 0, lost = 0, goalsFor = 0, goalsAgainst = 0;
    int points() const { return won * 3 + drawn; }
};

class World {
public:
    static constexpr quint64 kDefaultSeed = 20221009;

    // Every match from 1 July 2021 to `lastDay` (inclusive). The matches up to
    // any day, their ids and results do not depend on `lastDay`, so worlds of
    // one seed built on different days agree on their common past.
    static World generate(quint64 seed, const QDate &lastDay);

    static QDate firstDay() { return QDate(2021, 7, 1); }
    QDate lastDay() const { return m_lastDay; }
    quint64 seed() const { return m_seed; }

    const std::vector<League> &leagues() const { return m_leagues; }
    const std::vector<Team> &teams() const { return m_teams; }
    const std::vector<Match> &matches() const { return m_matches; } // by kick-off; ids ascend

    const Match *matchById(int id) const;

    // The team's matches that kicked off before `before` and were finished by
    // `now`, newest first, at most `limit`.
    std::vector<const Match *> history(int team, Minutes before, Minutes now, int limit) const;
    // Earlier meetings of the two teams, either way round, newest first.
    std::vector<const Match *> meetings(int teamA, int teamB, Minutes before, Minutes now, int limit) const;
    // The team's next matches kicking off after `after`, soonest first.
    std::vector<const Match *> fixturesAfter(int team, Minutes after, int limit) const;
    // Matches kicking off in [from, to), by kick-off.
    std::vector<const Match *> kickingOffBetween(Minutes from, Minutes to) const;
    // League table of a season from the matches finished before `before`, best first.
    std::vector<StandingRow> standings(int league, int season, Minutes before) const;

private:
    quint64 m_seed = 0;
    QDate m_lastDay;
    std::vector<League> m_leagues;
    std::vector<Team> m_teams;
    std::vector<Match> m_matches;
    std::vector<std::vector<int>> m_teamMatches; // per team, indices into m_matches by kick-off
};

// Site day and week helpers shared by the pages.
QString weekdayName(const QDate &day); // "周日"

} // namespace chenglan::sample
