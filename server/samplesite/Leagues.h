#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace chenglan::sample {

// The fixed cast of the generated world: leagues with their names, colours,
// calendars and clubs. Everything that varies (strengths, fixtures, results,
// odds) is drawn from the seed.
struct LeagueDefinition {
    int id = 0;
    QString name;                  // as the schedule pages show it
    QString shortName;             // as the history records carry it
    QString colour;                // "#RRGGBB"
    bool springAutumn = false;     // season March..November instead of August..May
    bool compactStyle = false;     // schedule markup writes the colour style without the blank
    bool winterBreak = false;      // no rounds from mid December to mid January
    std::vector<int> kickoffSlots; // minutes after the Saturday 00:00 of a round (site time)
    QStringList teams;
};

const std::vector<LeagueDefinition> &leagueDefinitions();

} // namespace chenglan::sample
