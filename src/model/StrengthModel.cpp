#include "model/StrengthModel.h"

#include "model/CheckedMath.h"
#include "model/Regression.h"

#include <array>
#include <optional>

namespace chenglan {

namespace {

using namespace history;
using namespace trend;

constexpr std::int16_t FitDegree = 6;
// The matches the two moving averages span. A row has both averages when
// LongWindow rows, itself included, stand from it on: rows 0..n-LastFullFromEnd.
constexpr int LongWindow = 20;
constexpr int ShortWindow = 10;
constexpr int LastFullFromEnd = LongWindow - 1;

int highestRow(const Table &t) { return t.allocated() ? t.rows() - 1 : -1; }

bool isEmptyCell(const Value &v) { return v.isEmpty() || (v.isText() && v.asText()->isEmpty()); }

// Steps 3 and 4 for one team: the averages of rows 0..n-LastFullFromEnd and the day each
// row stopped being the team's latest form (the next newer match's date).
void movingAverages(Table &history, int n, StepLog *log) {
    for (int r = 0; r <= n - LastFullFromEnd; ++r) {
        attempt([&] { history.set(Average20Column, r, Value(WindowAverage(history, ScoreColumn, LongWindow, r))); },
                log);
        attempt([&] { history.set(Average10Column, r, Value(WindowAverage(history, ScoreColumn, ShortWindow, r))); },
                log);
    }
    for (int r = 1; r <= n - LastFullFromEnd; ++r)
        attempt([&] { history.set(ValidUntilColumn, r, Value(history.at(DateColumn, r - 1).toDate())); }, log);
}

QDate validUntil(const Table &history, int row) { return history.at(ValidUntilColumn, row).toDate().date(); }

// c0 + c1·x + c2·x² + ... + c6·x⁶, summed left to right: the stored profiles
// rely on this order of the additions.
double polynomialAt(const QList<double> &c, double x) {
    if (c.size() <= FitDegree)
        throw StepFailure(QStringLiteral("no coefficients of degree %1 to evaluate").arg(FitDegree));
    double sum = c[0];
    for (int k = 1; k <= FitDegree; ++k)
        sum = checked::add(sum, checked::mul(c[k], checked::pow(x, k)));
    return sum;
}

// The pairing scan: for each home row, newest first, the first away row from
// j0 on whose validity ended on the same day as the home row's or earlier.
// Fills rows 0..k-1 of a table sized for every home row; returns k.
int pairRows(const AnalysisState &s, int nH, int nA, Table &pairs, StepLog *log) {
    int j0 = 0;
    int k = 0;
    for (int i = 0; i <= nH - LastFullFromEnd; ++i) {
        for (int j = j0; j <= nA - LastFullFromEnd; ++j) {
            bool qualifies = false;
            attempt([&] { qualifies = validUntil(s.awayHistory, j).daysTo(validUntil(s.homeHistory, i)) >= 0; },
                    log);
            if (!qualifies)
                continue;
            j0 = j;
            attempt([&] { pairs.set(Home20Column, k, s.homeHistory.at(Average20Column, i)); }, log);
            attempt([&] { pairs.set(Away20Column, k, s.awayHistory.at(Average20Column, j)); }, log);
            attempt([&] {
                pairs.set(Difference20Column, k,
                          Value(checked::sub(pairs.at(Home20Column, k).number(), pairs.at(Away20Column, k).number())));
            }, log);
            attempt([&] { pairs.set(Home10Column, k, s.homeHistory.at(Average10Column, i)); }, log);
            attempt([&] { pairs.set(Away10Column, k, s.awayHistory.at(Average10Column, j)); }, log);
            attempt([&] {
                pairs.set(Difference10Column, k,
                          Value(checked::sub(pairs.at(Home10Column, k).number(), pairs.at(Away10Column, k).number())));
            }, log);
            ++k;
            break;
        }
    }
    return k;
}

void fitSeries(AnalysisState &s, int N, std::array<std::optional<double>, SeriesCount> &forecast, StepLog *log) {
    QList<double> x(N);
    for (int i = 0; i < N; ++i)
        x[i] = i + 1;
    // A failed fit evaluates the coefficients of the series before it; before
    // the first, there are none.
    QList<double> coefficients;
    for (int c = 0; c < SeriesCount; ++c) {
        QList<double> y(N);
        for (int i = 0; i < N; ++i)
            y[i] = s.trendSeries.at(c, i).number();
        attempt([&] { coefficients = PolynomialRegression(x, y, FitDegree); }, log);
        for (int i = 0; i < N; ++i)
            attempt([&] { s.trendSeries.set(c + FittedOffset, i, Value(polynomialAt(coefficients, i + 1))); }, log);
        // The 20-match series are forecast one point ahead, the 10-match
        // ones evaluated one point back.
        const double at = c >= Home10Column ? N - 1 : N + 1;
        attempt([&] { forecast[c] = polynomialAt(coefficients, at); }, log);
    }
}

void setSummary(AnalysisState &s, int entry, const std::optional<double> &value, StepLog *log) {
    attempt([&] {
        if (!value)
            throw StepFailure(QStringLiteral("no forecast for strength value %1").arg(entry));
        s.profile.strengths.set(entry, Value(*value));
    }, log);
}

} // namespace

double WindowAverage(const Table &table, int column, int window, int startRow) {
    double sum = 0.0;
    int count = 0;
    for (int r = startRow; r <= startRow + window - 1; ++r) {
        const Value &cell = table.at(column, r);
        if (isEmptyCell(cell))
            continue;
        sum = checked::add(sum, cell.number());
        ++count;
    }
    return checked::div(sum, count);
}

void computeStrengthTrends(AnalysisState &s, StepLog *log) {
    const int nH = highestRow(s.homeHistory);
    const int nA = highestRow(s.awayHistory);
    attempt([&] { s.homeHistory.set(ValidUntilColumn, 0, s.matchDate); }, log);
    attempt([&] { s.awayHistory.set(ValidUntilColumn, 0, s.matchDate); }, log);
    movingAverages(s.homeHistory, nH, log);
    movingAverages(s.awayHistory, nA, log);

    const bool listMode = s.analysisMode == AnalysisMode::ListMatch;
    Table pairs(trend::Columns, nH - LastFullFromEnd + 1);
    const int N = nH >= LastFullFromEnd && nA >= LastFullFromEnd ? pairRows(s, nH, nA, pairs, log) : 0;
    if (N == 0) {
        // Without a pair there is nothing to fit: show no trend and neutral
        // strengths rather than whatever the previous analysis left.
        s.trendSeries = Table(trend::Columns, 0);
        if (listMode)
            for (int e = 0; e < strength::Count; ++e)
                attempt([&] { s.profile.strengths.set(e, Value(0.0)); }, log);
        return;
    }

    // Oldest pair first.
    s.trendSeries = Table(trend::Columns, N);
    for (int r = 0; r < N; ++r)
        for (int c = 0; c < SeriesCount; ++c)
            s.trendSeries.set(c, N - 1 - r, pairs.at(c, r));

    std::array<std::optional<double>, SeriesCount> forecast;
    fitSeries(s, N, forecast, log);

    if (!listMode)
        return;
    const auto newestFit = [&](int column) { return s.trendSeries.at(FittedOffset + column, N - 1); };
    attempt([&] { s.profile.strengths.set(strength::Home20, newestFit(Home20Column)); }, log);
    attempt([&] { s.profile.strengths.set(strength::Away20, newestFit(Away20Column)); }, log);
    setSummary(s, strength::Home20Forecast, forecast[Home20Column], log);
    setSummary(s, strength::Away20Forecast, forecast[Away20Column], log);
    attempt([&] { s.profile.strengths.set(strength::Home10, newestFit(Home10Column)); }, log);
    attempt([&] { s.profile.strengths.set(strength::Away10, newestFit(Away10Column)); }, log);
    setSummary(s, strength::Home10Before, forecast[Home10Column], log);
    setSummary(s, strength::Away10Before, forecast[Away10Column], log);
}

bool trendFitted(const AnalysisState &s) { return s.trendSeries.allocated() && s.trendSeries.rows() > FitDegree; }

QString trendShortfall(const AnalysisState &s) {
    if (trendFitted(s))
        return {};
    if (s.trendSeries.allocated() && s.trendSeries.rows() > 0)
        return QStringLiteral("两队历史只有%1个时间相符的配对，不足以计算实力趋势").arg(s.trendSeries.rows());
    const int home = s.homeHistory.allocated() ? s.homeHistory.rows() : 0;
    const int away = s.awayHistory.allocated() ? s.awayHistory.rows() : 0;
    if (home < LongWindow && away < LongWindow)
        return QStringLiteral("两队历史都不足20场（主队%1场，客队%2场），无法计算实力趋势").arg(home).arg(away);
    if (home < LongWindow)
        return QStringLiteral("主队历史不足20场（%1场），无法计算实力趋势").arg(home);
    if (away < LongWindow)
        return QStringLiteral("客队历史不足20场（%1场），无法计算实力趋势").arg(away);
    return QStringLiteral("两队历史没有时间相符的配对，无法计算实力趋势");
}

} // namespace chenglan
