#include "Export.h"

#include "Handicap.h"

#include <QStringList>

namespace chenglan::sample {
namespace {

QString csvField(const QString &text) {
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace

QByteArray finishedMatchesCsv(const World &world, Minutes now) {
    QString out = QStringLiteral(
        "match_id,league_id,league,league_short,league_colour,home_team_id,home_team,away_team_id,away_team,"
        "kickoff,ht_home,ht_away,ft_home,ft_away,handicap_line,handicap,home_odds,away_odds\r\n");
    for (const Match &m : world.matches()) {
        if (!m.finishedBy(now))
            break;
        const League &league = world.leagues()[size_t(m.league)];
        const Team &home = world.teams()[size_t(m.home)];
        const Team &away = world.teams()[size_t(m.away)];
        const OddsChange *odds = m.closingOdds();
        QStringList row{QString::number(m.id),
                        QString::number(league.id),
                        csvField(league.name),
                        csvField(league.shortName),
                        league.colour,
                        QString::number(home.id),
                        csvField(home.name),
                        QString::number(away.id),
                        csvField(away.name),
                        dateTimeOf(m.kickoff).toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                        QString::number(m.htHome),
                        QString::number(m.htAway),
                        QString::number(m.ftHome),
                        QString::number(m.ftAway),
                        odds ? QString::number(odds->line) : QString(),
                        odds ? handicapText(odds->line) : QString(),
                        odds ? priceText(odds->homeOdds) : QString(),
                        odds ? priceText(odds->awayOdds) : QString()};
        out += row.join(u',');
        out += QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

} // namespace chenglan::sample
