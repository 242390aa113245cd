#include "model/SimilarSet.h"

#include "base/TextRules.h"
#include "model/GridFormats.h"
#include "model/MatchListGrid.h"

#include <cmath>

namespace chenglan {

namespace {

// Heights of the two lines of a match, in twips.
constexpr int SimilarLineHeight = 300;

// Text of column c of row r, empty for a column the table lacks; tabs become
// blanks, since a tab would shift the cells of the grid line and with them the
// row number in column 12.
QString field(const Table &t, int column, int row) {
    if (column >= t.columns())
        return {};
    QString text = t.at(column, row).text();
    text.replace(u'\t', u' ');
    return text;
}

// The "0.00" form of a numeric field; a text that is not a number stays as it is.
QString twoDecimals(const QString &text) {
    const auto number = text::strictNumber(text);
    return number ? text::fixed2(*number) : text;
}

QString kickOffDate(const QString &text) {
    const auto when = text::parseDateTime(text);
    return when ? text::displayDate(when->date()) : text;
}

QString kickOffTime(const QString &text) {
    const auto when = text::parseDateTime(text);
    return when ? when->time().toString(QStringLiteral("HH:mm")) : QString();
}

} // namespace

void fillSimilarList(const AnalysisState &s, GridData &grid, StepLog *log) {
    grid.setRows(1);
    int g = grid.rows();
    const Table &m = s.similarMatches;
    if (!m.allocated())
        return;
    using namespace similar;
    for (int r = 0; r < m.rows(); ++r) {
        const auto S = [&](int c) { return field(m, c, r); };
        const QString key = QString::number(r);
        // The home side's line, then the away side's.
        const QStringList first = {
            S(League).left(4),
            kickOffDate(S(Kickoff)),
            S(HomeTeam).left(4) + u'(' + S(HandicapLine) + u')',
            S(Handicap),
            twoDecimals(S(Strength0)),
            twoDecimals(S(Strength4)),
            S(HomeOdds), S(HomeResult), S(FullTimeScore), S(FullTimeGoals), S(HomeHalfFull),
            QString(),
            key,
        };
        const QStringList second = {
            S(League).left(4),
            kickOffTime(S(Kickoff)),
            S(AwayTeam).left(5),
            S(FullTimeHome) + u'-' + S(FullTimeAway) + QStringLiteral(" (") + S(HalfTimeHome) + u'-' +
                S(HalfTimeAway) + u')',
            twoDecimals(S(Strength1)),
            twoDecimals(S(Strength5)),
            S(AwayOdds), S(AwayResult), S(HalfTimeScore), S(HalfTimeGoals), S(AwayHalfFull),
            QString(),
            key,
        };
        grid.addItem(first.join(u'\t'));
        grid.addItem(second.join(u'\t'));
        attempt([&] { grid.select(g, similarlist::LeagueColumn); }, log);
        attempt([&] { grid.setCellBackColor(HexColorToRgb(S(LeagueColour))); }, log);
        grid.setCellForeColor(WhiteColor);
        attempt([&] { grid.setRowHeight(g, SimilarLineHeight); }, log);
        attempt([&] { grid.setRowHeight(g + 1, SimilarLineHeight); }, log);
        grid.setMergeMode(2);
        attempt([&] { grid.setMergeColumn(similarlist::LeagueColumn, true); }, log);
        grid.setCellAlignment(GridData::Center);
        g += 2;
    }
}

namespace {

std::optional<double> cellNumber(const Table &t, int column, int row) {
    const auto n = text::strictNumber(t.at(column, row).text().trimmed());
    if (!n || !std::isfinite(*n))
        return std::nullopt;
    return n;
}

} // namespace

QString SimilarSetSummary::text() const {
    if (matches == 0)
        return {};
    QString line = QStringLiteral("相似 %1 场：主胜 %2 平 %3 负 %4").arg(matches).arg(wins).arg(draws).arg(losses);
    if (unknown > 0)
        line += QStringLiteral("（%1 场无赛果）").arg(unknown);
    if (meanDistance)
        line += QStringLiteral("，平均距离 ") + text::fixed2(*meanDistance);
    return line;
}

SimilarSetSummary summarizeSimilarSet(const AnalysisState &s) {
    SimilarSetSummary summary;
    const Table &t = s.similarMatches;
    if (!t.allocated() || t.columns() <= similar::Distance)
        return summary;
    // A running mean: a sum of distances near the largest double would
    // overflow to infinity.
    double distanceMean = 0;
    int distances = 0;
    for (int row = 0; row < t.rows(); ++row) {
        ++summary.matches;
        // The service's result word first; the score when the word is missing.
        int outcome = 2;
        const QString result = t.at(similar::HomeResult, row).text().trimmed();
        const auto home = cellNumber(t, similar::FullTimeHome, row);
        const auto away = cellNumber(t, similar::FullTimeAway, row);
        if (result == QStringLiteral("胜"))
            outcome = 1;
        else if (result == QStringLiteral("平"))
            outcome = 0;
        else if (result == QStringLiteral("负"))
            outcome = -1;
        else if (home && away)
            outcome = *home > *away ? 1 : *home < *away ? -1 : 0;
        switch (outcome) {
        case 1: ++summary.wins; break;
        case 0: ++summary.draws; break;
        case -1: ++summary.losses; break;
        default: ++summary.unknown; break;
        }
        if (const auto d = cellNumber(t, similar::Distance, row); d && *d >= 0) {
            ++distances;
            distanceMean += (*d - distanceMean) / distances;
        }
    }
    if (distances > 0)
        summary.meanDistance = distanceMean;
    return summary;
}

} // namespace chenglan
