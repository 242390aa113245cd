#include "model/StrengthModel.h"

#include "model/CheckedMath.h"
#include "model/Regression.h"

#include <array>
#include <optional>

namespace chenglan {

namespace {

constexpr int TrendColumns = 21;
constexpr int SeriesCount = 6;
constexpr std::int16_t FitDegree = 6;

// Columns of the history tables written here.
constexpr int ScoreColumn = 21;
constexpr int Average20Column = 22;
constexpr int ValidUntilColumn = 23;
constexpr int Average10Column = 24;

int highestRow(const Table &t) { return t.allocated() ? t.rows() - 1 : -1; }

bool isEmptyCell(const Value &v) { return v.isEmpty() || (v.isText() && v.asText()->isEmpty()); }

// Steps 3 and 4 for one team: the averages of rows 0..n-19 and the day each
// row stopped being the team's latest form (the next newer match's date).
void movingAverages(Table &history, int n, StepLog *log) {
    for (int r = 0; r <= n - 19; ++r) {
        attempt([&] { history.set(Average20Column, r, Value(WindowAverage(history, ScoreColumn, 20, r))); }, log);
        attempt([&] { history.set(Average10Column, r, Value(WindowAverage(history, ScoreColumn, 10, r))); }, log);
    }
    for (int r = 1; r <= n - 19; ++r)
        attempt([&] { history.set(ValidUntilColumn, r, Value(history.at(0, r - 1).toDate())); }, log);
}

QDate validUntil(const Table &history, int row) { return history.at(ValidUntilColumn, row).toDate().date(); }

// c0 + c1·x + c2·x² + ... + c6·x⁶, summed left to right as the stored profiles were.
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
    for (int i = 0; i <= nH - 19; ++i) {
        for (int j = j0; j <= nA - 19; ++j) {
            bool qualifies = false;
            attempt([&] { qualifies = validUntil(s.awayHistory, j).daysTo(validUntil(s.homeHistory, i)) >= 0; },
                    log);
            if (!qualifies)
                continue;
            j0 = j;
            attempt([&] { pairs.set(0, k, s.homeHistory.at(Average20Column, i)); }, log);
            attempt([&] { pairs.set(1, k, s.awayHistory.at(Average20Column, j)); }, log);
            attempt([&] { pairs.set(2, k, Value(checked::sub(pairs.at(0, k).number(), pairs.at(1, k).number()))); },
                    log);
            attempt([&] { pairs.set(3, k, s.homeHistory.at(Average10Column, i)); }, log);
            attempt([&] { pairs.set(4, k, s.awayHistory.at(Average10Column, j)); }, log);
            attempt([&] { pairs.set(5, k, Value(checked::sub(pairs.at(3, k).number(), pairs.at(4, k).number()))); },
                    log);
            ++k;
            break;
        }
    }
    return k;
}

void fitSeries(AnalysisState &s, int N, std::array<std::optional<double>, SeriesCount> &forecast, StepLog *log) {
    s.regressionDegree = FitDegree;
    for (int c = 0; c < SeriesCount; ++c) {
        // Each fit leaves its coefficients in regressionX, so the abscissae
        // are written anew every time.
        s.regressionX = QList<double>(N);
        for (int i = 0; i < N; ++i)
            s.regressionX[i] = i + 1;
        s.regressionY = QList<double>(N);
        for (int i = 0; i < N; ++i)
            s.regressionY[i] = s.trendSeries.at(c, i).number();
        attempt([&] { s.regressionCoefficients = PolynomialRegression(s, s.regressionX, s.regressionY,
                                                                      s.regressionDegree); },
                log);
        for (int i = 0; i < N; ++i)
            attempt([&] { s.trendSeries.set(c + 6, i, Value(polynomialAt(s.regressionCoefficients, i + 1))); },
                    log);
        const double x = c >= 3 ? N - 1 : N + 1;
        attempt([&] { forecast[c] = polynomialAt(s.regressionCoefficients, x); }, log);
    }
}

void setSummary(AnalysisState &s, int entry, const std::optional<double> &value, StepLog *log) {
    attempt([&] {
        if (!value)
            throw StepFailure(QStringLiteral("no forecast for strength value %1").arg(entry));
        s.strengthSummary.set(entry, Value(*value));
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
    // A failed fit evaluates the coefficients the previous fit left. They
    // must come from this run, never from the analysis of another match.
    s.regressionCoefficients.clear();

    const int nH = highestRow(s.homeHistory);
    const int nA = highestRow(s.awayHistory);
    attempt([&] { s.homeHistory.set(ValidUntilColumn, 0, s.matchDate); }, log);
    attempt([&] { s.awayHistory.set(ValidUntilColumn, 0, s.matchDate); }, log);
    movingAverages(s.homeHistory, nH, log);
    movingAverages(s.awayHistory, nA, log);

    const bool listMode = s.analysisMode.number() == 0;
    Table pairs(TrendColumns, nH - 18);
    const int N = nH >= 19 && nA >= 19 ? pairRows(s, nH, nA, pairs, log) : 0;
    if (N == 0) {
        // Without a pair there is nothing to fit: show no trend and neutral
        // strengths rather than whatever the previous analysis left.
        s.trendSeries = Table(TrendColumns, 0);
        if (listMode)
            for (int e = 0; e < 8; ++e)
                attempt([&] { s.strengthSummary.set(e, Value(0.0)); }, log);
        return;
    }

    // Oldest pair first.
    s.trendSeries = Table(TrendColumns, N);
    for (int r = 0; r < N; ++r)
        for (int c = 0; c < SeriesCount; ++c)
            s.trendSeries.set(c, N - 1 - r, pairs.at(c, r));

    std::array<std::optional<double>, SeriesCount> forecast;
    fitSeries(s, N, forecast, log);

    if (!listMode)
        return;
    attempt([&] { s.strengthSummary.set(0, s.trendSeries.at(6, N - 1)); }, log);
    attempt([&] { s.strengthSummary.set(1, s.trendSeries.at(7, N - 1)); }, log);
    setSummary(s, 2, forecast[0], log);
    setSummary(s, 3, forecast[1], log);
    attempt([&] { s.strengthSummary.set(4, s.trendSeries.at(9, N - 1)); }, log);
    attempt([&] { s.strengthSummary.set(5, s.trendSeries.at(10, N - 1)); }, log);
    setSummary(s, 6, forecast[3], log);
    setSummary(s, 7, forecast[4], log);
}

QString trendShortfall(const AnalysisState &s) {
    if (s.trendSeries.allocated() && s.trendSeries.rows() > 0)
        return {};
    const int home = s.homeHistory.allocated() ? s.homeHistory.rows() : 0;
    const int away = s.awayHistory.allocated() ? s.awayHistory.rows() : 0;
    if (home < 20 && away < 20)
        return QStringLiteral("两队历史都不足20场（主队%1场，客队%2场），无法计算实力趋势").arg(home).arg(away);
    if (home < 20)
        return QStringLiteral("主队历史不足20场（%1场），无法计算实力趋势").arg(home);
    if (away < 20)
        return QStringLiteral("客队历史不足20场（%1场），无法计算实力趋势").arg(away);
    return QStringLiteral("两队历史没有时间相符的配对，无法计算实力趋势");
}

} // namespace chenglan
