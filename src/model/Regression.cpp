#include "model/Regression.h"

#include "model/CheckedMath.h"

namespace chenglan {

namespace {

[[noreturn]] void indexError(const QString &what) { throw StepFailure(QStringLiteral("index error: %1").arg(what)); }

// The point count and the column count are 16-bit integers: more fails as an overflow.
std::int16_t int16Count(qsizetype count, const char *what) {
    if (count > 32767)
        throw StepFailure(QStringLiteral("overflow: %1 of %2").arg(QLatin1String(what)).arg(count));
    return std::int16_t(count);
}

} // namespace

QList<double> PolynomialRegression(const QList<double> &x, const QList<double> &y, std::int16_t d) {
    if (x.isEmpty())
        indexError(QStringLiteral("no abscissae"));
    const int n = int16Count(x.size(), "point count");
    const int columns = int16Count(qsizetype(d) + 1, "degree + 1");
    if (d < 0)
        indexError(QStringLiteral("negative degree %1").arg(d));
    if (y.size() < n)
        indexError(QStringLiteral("%1 ordinates for %2 points").arg(y.size()).arg(n));

    QList<QList<double>> X(n, QList<double>(columns, 0.0));
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= d; ++j)
            X[i][j] = checked::pow(x[i], j);

    QList<QList<double>> normal(columns, QList<double>(columns, 0.0));
    QList<double> rhs(columns, 0.0);
    for (int k = 0; k <= d; ++k) {
        for (int l = 0; l <= d; ++l)
            for (int i = 0; i < n; ++i)
                normal[k][l] = checked::add(checked::mul(X[i][l], X[i][k]), normal[k][l]);
        for (int i = 0; i < n; ++i)
            rhs[k] = checked::add(checked::mul(X[i][k], y[i]), rhs[k]);
    }
    return SolveLinearSystem(normal, rhs);
}

QList<double> SolveLinearSystem(const QList<QList<double>> &A, const QList<double> &b) {
    if (A.isEmpty())
        indexError(QStringLiteral("no system matrix"));
    const int m = int(A.size()) - 1;
    for (int i = 0; i <= m; ++i)
        if (A[i].size() <= m)
            indexError(QStringLiteral("row %1 of the system matrix has %2 entries").arg(i).arg(A[i].size()));
    if (b.size() <= m)
        indexError(QStringLiteral("%1 right-hand sides for %2 rows").arg(b.size()).arg(m + 1));

    QList<QList<double>> M(m + 1, QList<double>(m + 2, 0.0));
    for (int i = 0; i <= m; ++i) {
        for (int j = 0; j <= m; ++j)
            M[i][j] = A[i][j];
        M[i][m + 1] = b[i];
    }

    for (int k = 0; k <= m - 1; ++k) {
        for (int i = k + 1; i <= m; ++i) {
            const double f = checked::div(M[i][k], M[k][k]);
            for (int j = k; j <= m + 1; ++j)
                M[i][j] = checked::sub(M[i][j], checked::mul(f, M[k][j]));
        }
    }

    // Sized from b, which holds at least m + 1 values: gcc 12 cannot see that
    // m + 1 is positive and warns of a memset of negative size otherwise.
    QList<double> solution = b.first(m + 1);
    for (int i = m; i >= 0; --i) {
        solution[i] = M[i][m + 1];
        for (int j = i + 1; j <= m; ++j)
            solution[i] = checked::sub(solution[i], checked::mul(M[i][j], solution[j]));
        solution[i] = checked::div(solution[i], M[i][i]);
    }
    return solution;
}

} // namespace chenglan
