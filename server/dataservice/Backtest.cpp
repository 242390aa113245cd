#include "Backtest.h"

#include "charts/StrengthPanel.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace chenglan::dataservice {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The bounds between the levels: level n holds bounds[n] < d <= bounds[n - 1].
constexpr std::array<double, StrengthLevelCount + 1> kBounds{kInf, 1.25, 1, 0.75, 0.5, 0.25, 0.1, 0,
                                                             -0.1, -0.25, -0.5, -0.75, -1, -1.25, -kInf};

// A difference inside level n, to ask the verdict for the level's text.
double insideLevel(int n) { return n == 1 ? kBounds[1] + 1 : kBounds[size_t(n - 1)]; }

QString boundText(double b) { return QString::number(b, 'g', 4); }

QString rangeText(int n) {
    if (n == 1)
        return QStringLiteral("d > %1").arg(boundText(kBounds[1]));
    if (n == StrengthLevelCount)
        return QStringLiteral("d <= %1").arg(boundText(kBounds[size_t(n - 1)]));
    return QStringLiteral("%1 < d <= %2").arg(boundText(kBounds[size_t(n)]), boundText(kBounds[size_t(n - 1)]));
}

QString scoresText(const StrengthLevel &level) {
    return QStringLiteral("%1-%2 %3-%4")
        .arg(level.scores[0].first)
        .arg(level.scores[0].second)
        .arg(level.scores[1].first)
        .arg(level.scores[1].second);
}

// "主队实力超强于客队": the level's words without the scores.
QString verdictWords(const StrengthLevel &level) { return level.text.trimmed().section(u',', 0, 0); }

void count(BacktestRow &row, int home, int away, bool hit) {
    ++row.matches;
    if (home > away)
        ++row.won;
    else if (home == away)
        ++row.drawn;
    else
        ++row.lost;
    if (hit)
        ++row.scoreHits;
}

QString share(int part, int whole) {
    if (whole == 0)
        return QStringLiteral("-");
    return QString::number(100.0 * part / whole, 'f', 1) + u'%';
}

// "  10  83.3%": a count and its share, in a column of fixed width.
QString countCell(int part, int whole) {
    return QStringLiteral("%1 %2").arg(part, 5).arg(share(part, whole), 6);
}

QString rowCells(const BacktestRow &row) {
    return QStringLiteral("%1  %2  %3  %4  %5")
        .arg(row.matches, 7)
        .arg(countCell(row.won, row.matches), countCell(row.drawn, row.matches), countCell(row.lost, row.matches),
             countCell(row.scoreHits, row.matches));
}

const QString kCountHeader = QStringLiteral("matches     home won         drawn     home lost     score hit");

QString csvShare(int part, int whole) {
    return whole == 0 ? QString() : QString::number(100.0 * part / whole, 'f', 1);
}

QString csvLine(const QString &table, const QString &key, const QString &range, const QString &scores,
                const QString &verdict, const BacktestRow &row) {
    return QStringList{table,
                       key,
                       range,
                       scores,
                       verdict,
                       QString::number(row.matches),
                       QString::number(row.won),
                       QString::number(row.drawn),
                       QString::number(row.lost),
                       QString::number(row.scoreHits),
                       csvShare(row.won, row.matches),
                       csvShare(row.drawn, row.matches),
                       csvShare(row.lost, row.matches),
                       csvShare(row.scoreHits, row.matches)}
               .join(u',') +
           QStringLiteral("\r\n");
}

} // namespace

Backtest::Backtest() {
    for (int n = 1; n <= StrengthLevelCount; ++n)
        levels.push_back(BacktestRow{QString::number(n)});
    total.key = QStringLiteral("all");
}

void Backtest::add(const MatchFacts &facts, const MatchProfile &profile) {
    if (!facts.finished())
        return;
    // The panel judges the strengths as the client holds them after rounding:
    // the nearest doubles to the stored hundredths.
    const double d = double(profile.strengths[strength::Home20]) / 100.0 - double(profile.strengths[strength::Away20]) / 100.0;
    const StrengthLevel level = strengthLevel(d);
    if (level.number < 1 || level.number > StrengthLevelCount)
        return;
    const int home = *facts.fullTimeHome;
    const int away = *facts.fullTimeAway;
    const bool hit = std::any_of(level.scores.begin(), level.scores.end(),
                                 [&](const auto &s) { return s.first == home && s.second == away; });
    count(levels[size_t(level.number - 1)], home, away, hit);
    count(total, home, away, hit);

    const QString codes = profile.code20 + u' ' + profile.code10;
    auto pair = std::find_if(codePairs.begin(), codePairs.end(), [&](const BacktestRow &r) { return r.key == codes; });
    if (pair == codePairs.end())
        pair = codePairs.insert(codePairs.end(), BacktestRow{codes});
    count(*pair, home, away, hit);

    if (firstKickoff.isEmpty() || facts.kickoff < firstKickoff)
        firstKickoff = facts.kickoff;
    if (lastKickoff.isEmpty() || facts.kickoff > lastKickoff)
        lastKickoff = facts.kickoff;
}

void Backtest::finish() {
    std::sort(codePairs.begin(), codePairs.end(), [](const BacktestRow &a, const BacktestRow &b) {
        return a.matches != b.matches ? a.matches > b.matches : a.key < b.key;
    });
}

Backtest runBacktest(MatchStore &store, const BacktestRange &range) {
    Backtest backtest;
    store.changesSince(
        0,
        [&](const AnswerRow &row) {
            const QDate day = QDate::fromString(row.facts.kickoff.left(10), Qt::ISODate);
            if ((range.from && day < *range.from) || (range.to && day > *range.to))
                return;
            backtest.add(row.facts, row.profile);
        },
        [](qint64) {});
    backtest.finish();
    return backtest;
}

QString backtestText(const Backtest &b) {
    QString out;
    out += QStringLiteral("Verdict backtest: %1 finished matches with a profile").arg(b.total.matches);
    if (b.total.matches > 0)
        out += QStringLiteral(", kick-off %1 to %2").arg(b.firstKickoff, b.lastKickoff);
    out += QStringLiteral("\nd = home strength I - away strength I; score hit: the final score was one of the "
                          "verdict's two\n\n");
    out += QStringLiteral("level  range              scores   %1  verdict\n").arg(kCountHeader);
    for (int n = 1; n <= StrengthLevelCount; ++n) {
        const StrengthLevel level = strengthLevel(insideLevel(n));
        out += QStringLiteral("%1  %2  %3  %4  %5\n")
                   .arg(n, 5)
                   .arg(rangeText(n), -17)
                   .arg(scoresText(level), -7)
                   .arg(rowCells(b.levels[size_t(n - 1)]), verdictWords(level));
    }
    out += QStringLiteral("%1  %2\n").arg(QStringLiteral("all"), -5 - 2 - 17 - 2 - 7).arg(rowCells(b.total));

    out += QStringLiteral("\ncodes    %1\n").arg(kCountHeader);
    for (const BacktestRow &row : b.codePairs)
        out += QStringLiteral("%1  %2\n").arg(row.key, -7).arg(rowCells(row));
    out += QStringLiteral("%1  %2\n").arg(QStringLiteral("all"), -7).arg(rowCells(b.total));
    return out;
}

QString backtestCsv(const Backtest &b) {
    QString out = QStringLiteral("table,key,range,scores,verdict,matches,home_won,drawn,home_lost,score_hits,"
                                 "home_won_pct,drawn_pct,home_lost_pct,score_hit_pct\r\n");
    for (int n = 1; n <= StrengthLevelCount; ++n) {
        const StrengthLevel level = strengthLevel(insideLevel(n));
        out += csvLine(QStringLiteral("verdict"), QString::number(n), rangeText(n), scoresText(level),
                       verdictWords(level), b.levels[size_t(n - 1)]);
    }
    out += csvLine(QStringLiteral("verdict"), QStringLiteral("all"), {}, {}, {}, b.total);
    for (const BacktestRow &row : b.codePairs)
        out += csvLine(QStringLiteral("codes"), row.key, {}, {}, {}, row);
    out += csvLine(QStringLiteral("codes"), QStringLiteral("all"), {}, {}, {}, b.total);
    return out;
}

} // namespace chenglan::dataservice
