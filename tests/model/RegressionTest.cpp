#include "model/Regression.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace chenglan;

TEST(PolynomialRegression, StraightLineThroughThreePoints) {
    const QList<double> c = PolynomialRegression({1, 2, 3}, {2, 4, 6}, 1);
    EXPECT_EQ(c, (QList<double>{0, 2}));
}

TEST(PolynomialRegression, DegreeZeroIsTheMean) {
    const QList<double> c = PolynomialRegression({1, 2, 3}, {1, 2, 4}, 0);
    ASSERT_EQ(c.size(), 1);
    EXPECT_EQ(c[0], 7.0 / 3.0);
}

TEST(PolynomialRegression, AFitDoesNotDependOnTheOneBefore) {
    const QList<double> alone = PolynomialRegression({2, 3}, {1, 1}, 1);
    PolynomialRegression({1, 2, 3, 4, 5}, {1, 8, 27, 64, 125}, 3);
    EXPECT_EQ(PolynomialRegression({2, 3}, {1, 1}, 1), alone);
}

TEST(PolynomialRegression, RecoversAPolynomialOfLowerDegree) {
    // A degree-6 fit of an exact quadratic over twelve points: the normal
    // equations are badly conditioned, yet the fitted values must stay close.
    QList<double> x, y;
    for (int i = 1; i <= 12; ++i) {
        x << i;
        y << 0.5 - 0.25 * i + 0.01 * i * i;
    }
    const QList<double> c = PolynomialRegression(x, y, 6);
    ASSERT_EQ(c.size(), 7);
    for (int i = 0; i < 12; ++i) {
        double v = 0;
        for (int k = 0; k <= 6; ++k)
            v += c[k] * std::pow(x[i], k);
        EXPECT_NEAR(v, y[i], 1e-6) << "at x = " << x[i];
    }
}

TEST(PolynomialRegression, SingleAbscissaFailsOnTheZeroPivot) {
    // One point and degree 6: every row of the normal matrix is the same, the
    // first elimination leaves exact zeros and the next pivot is 0 / 0.
    EXPECT_THROW(PolynomialRegression({1}, {0.5}, 6), StepFailure);
}

TEST(PolynomialRegression, RepeatedAbscissaeFailDuringBackSubstitution) {
    // x = 1, 1, 1 with degree 1: the elimination goes through (pivot 3), the
    // last diagonal element is exactly 0 and back substitution divides 0 by 0.
    EXPECT_THROW(PolynomialRegression({1, 1, 1}, {1, 2, 3}, 1), StepFailure);
}

TEST(PolynomialRegression, OverflowAndShortInputsFail) {
    EXPECT_THROW(PolynomialRegression({1e200, 2e200}, {1, 2}, 2), StepFailure);
    EXPECT_THROW(PolynomialRegression({1, 2, 3}, {1, 2}, 1), StepFailure);
    EXPECT_THROW(PolynomialRegression({}, {}, 1), StepFailure);
    EXPECT_THROW(PolynomialRegression({1, 2}, {1, 2}, 32767), StepFailure);
    EXPECT_THROW(PolynomialRegression(QList<double>(32768, 1.0), QList<double>(32768, 1.0), 1), StepFailure);
}

TEST(SolveLinearSystem, NoPivotingATinyPivotIsUsedAsItIs) {
    // With a row exchange the answer would be close to (1, 1); the fit
    // eliminates on the tiny pivot and loses x0 entirely.
    const QList<double> x = SolveLinearSystem({{1e-20, 1}, {1, 1}}, {1, 2});
    EXPECT_EQ(x, (QList<double>{0, 1}));
}

TEST(SolveLinearSystem, ExactlyZeroPivotFails) {
    EXPECT_THROW(SolveLinearSystem({{0, 1}, {1, 0}}, {1, 1}), StepFailure);
}

TEST(SolveLinearSystem, MalformedSystemsFail) {
    EXPECT_THROW(SolveLinearSystem({}, {}), StepFailure);
    EXPECT_THROW(SolveLinearSystem({{1, 2}, {3}}, {1, 1}), StepFailure);
    EXPECT_THROW(SolveLinearSystem({{1, 2}, {3, 4}}, {1}), StepFailure);
}

TEST(SolveLinearSystem, ThreeByThree) {
    EXPECT_EQ(SolveLinearSystem({{2, 1, -1}, {-3, -1, 2}, {-2, 1, 2}}, {8, -11, -3}),
              (QList<double>{2, 3, -1}));
}
