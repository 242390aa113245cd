#pragma once

#include "base/Step.h"

#include <QList>

#include <cstdint>

namespace chenglan {

// Least-squares polynomial fit through the normal equations, solved by plain
// Gaussian elimination. The data service's stored profiles and the strengths
// users compare rely on its exact numbers, so the method stays as it is: no
// pivoting, no scaling, no tolerance. Every
// floating-point operation is checked: a division by zero, an invalid
// operation or an overflow throws StepFailure at once (underflow and inexact
// results are not errors), and no partial result is returned.

// Fits a polynomial of degree d to the points (x[i], y[i]), i < x.size(), and
// returns its coefficients c[0..d] in ascending powers. The design matrix
// (point by power) and the normal equations are its own scratch.
QList<double> PolynomialRegression(const QList<double> &x, const QList<double> &y, std::int16_t d);

// Solves A·s = b for a square A[0..m][0..m] by forward elimination and back
// substitution, and returns s.
QList<double> SolveLinearSystem(const QList<QList<double>> &A, const QList<double> &b);

} // namespace chenglan
