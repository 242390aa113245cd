#pragma once

#include "base/Step.h"

#include <cmath>

// Arithmetic that fails where the strength model must not go on with a
// number (the stored profiles rely on which statements are skipped): an
// operation that raises the IEEE division-by-zero, invalid or overflow
// exception throws StepFailure. The conditions are tested on operands and
// result rather than on the floating-point environment, so the outcome does
// not depend on how the compiler orders or folds the operations.
namespace chenglan::checked {

[[noreturn]] inline void fail(const char *what) {
    throw StepFailure(QStringLiteral("arithmetic error: %1").arg(QLatin1String(what)));
}

// Overflow: a finite computation gave an infinity. Invalid: non-NaN operands
// gave a NaN (inf - inf, 0 * inf, inf / inf, 0 / 0).
inline double result(double r, double a, double b) {
    if (std::isinf(r) && std::isfinite(a) && std::isfinite(b))
        fail("overflow");
    if (std::isnan(r) && !std::isnan(a) && !std::isnan(b))
        fail("invalid operation");
    return r;
}

inline double add(double a, double b) { return result(a + b, a, b); }
inline double sub(double a, double b) { return result(a - b, a, b); }
inline double mul(double a, double b) { return result(a * b, a, b); }

inline double div(double a, double b) {
    if (b == 0.0) {
        if (a == 0.0)
            fail("invalid operation (0 / 0)");
        if (std::isfinite(a))
            fail("division by zero");
    }
    return result(a / b, a, b);
}

// x to a whole power, as the general power operation computes it.
inline double pow(double x, int power) { return result(std::pow(x, double(power)), x, double(power)); }

} // namespace chenglan::checked
