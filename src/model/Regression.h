#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"

#include <QList>

#include <cstdint>

namespace chenglan {

// Least-squares polynomial fit through the normal equations, solved by plain
// Gaussian elimination. The data service's stored profiles were computed so,
// and new ones must compare with them: no pivoting, no scaling, no tolerance. Every
// floating-point operation is checked: a division by zero, an invalid
// operation or an overflow throws StepFailure at once (underflow and inexact
// results are not errors), and no partial result is returned.

// Fits a polynomial of degree d to the points (x[i], y[i]), i < x.size(), and
// returns its coefficients c[0..d] in ascending powers. Leaves the design
// matrix (point by power) in s.designMatrix and a copy of the coefficients in
// s.regressionX.
QList<double> PolynomialRegression(AnalysisState &s, const QList<double> &x, const QList<double> &y,
                                   std::int16_t d);

// Solves A·s = b for a square A[0..m][0..m] by forward elimination and back
// substitution. The solution is written straight into s.regressionX (resized
// to m+1 entries first, so a failure during back substitution leaves it
// partly written) and returned as a copy.
QList<double> SolveLinearSystem(AnalysisState &s, const QList<QList<double>> &A, const QList<double> &b);

} // namespace chenglan
