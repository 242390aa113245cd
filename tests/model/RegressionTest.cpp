#include "model/Regression.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace chenglan;

TEST(PolynomialRegression, StraightLineThroughThreePoints) {
    AnalysisState s;
    const QList<double> c = PolynomialRegression(s, {1, 2, 3}, {2, 4, 6}, 1);
    EXPECT_EQ(c, (QList<double>{0, 2}));
    EXPECT_EQ(s.designMatrix, (QList<QList<double>>{{1, 1}, {1, 2}, {1, 3}}));
}

TEST(PolynomialRegression, DegreeZeroIsTheMean) {
    AnalysisState s;
    const QList<double> c = PolynomialRegression(s, {1, 2, 3}, {1, 2, 4}, 0);
    ASSERT_EQ(c.size(), 1);
    EXPECT_EQ(c[0], 7.0 / 3.0);
}

TEST(PolynomialRegression, RegressionXHoldsTheCoefficientsAfterwards) {
    AnalysisState s;
    s.regressionX = {1, 2, 3, 4, 5};
    s.regressionY = {3, 5, 7, 9, 11};
    // The caller passes regressionX itself as the abscissae.
    const QList<double> c = PolynomialRegression(s, s.regressionX, s.regressionY, 1);
    EXPECT_EQ(c, (QList<double>{1, 2}));
    EXPECT_EQ(s.regressionX, c);
    EXPECT_EQ(s.designMatrix.size(), 5);
}

TEST(PolynomialRegression, DesignMatrixIsRebuiltOnEveryCall) {
    AnalysisState s;
    PolynomialRegression(s, {1, 2, 3, 4, 5}, {1, 8, 27, 64, 125}, 3);
    EXPECT_EQ(s.designMatrix.size(), 5);
    EXPECT_EQ(s.designMatrix[4], (QList<double>{1, 5, 25, 125}));
    PolynomialRegression(s, {2, 3}, {1, 1}, 1);
    EXPECT_EQ(s.designMatrix, (QList<QList<double>>{{1, 2}, {1, 3}}));
}

TEST(PolynomialRegression, RecoversAPolynomialOfLowerDegree) {
    // A degree-6 fit of an exact quadratic over twelve points: the normal
    // equations are badly conditioned, yet the fitted values must stay close.
    AnalysisState s;
    QList<double> x, y;
    for (int i = 1; i <= 12; ++i) {
        x << i;
        y << 0.5 - 0.25 * i + 0.01 * i * i;
    }
    const QList<double> c = PolynomialRegression(s, x, y, 6);
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
    AnalysisState s;
    s.regressionX = {9, 9, 9};
    EXPECT_THROW(PolynomialRegression(s, {1}, {0.5}, 6), StepFailure);
    EXPECT_EQ(s.regressionX, (QList<double>{9, 9, 9})); // failed before the solution was written
}

TEST(PolynomialRegression, RepeatedAbscissaeFailDuringBackSubstitution) {
    // x = 1, 1, 1 with degree 1: the elimination goes through (pivot 3), the
    // last diagonal element is exactly 0 and back substitution divides 0 by 0.
    AnalysisState s;
    s.regressionX = {7, 7, 7, 7, 7};
    EXPECT_THROW(PolynomialRegression(s, {1, 1, 1}, {1, 2, 3}, 1), StepFailure);
    EXPECT_EQ(s.regressionX.size(), 2); // resized and partly written before the failure
}

TEST(PolynomialRegression, OverflowAndShortInputsFail) {
    AnalysisState s;
    EXPECT_THROW(PolynomialRegression(s, {1e200, 2e200}, {1, 2}, 2), StepFailure);
    EXPECT_THROW(PolynomialRegression(s, {1, 2, 3}, {1, 2}, 1), StepFailure);
    EXPECT_THROW(PolynomialRegression(s, {}, {}, 1), StepFailure);
    EXPECT_THROW(PolynomialRegression(s, {1, 2}, {1, 2}, 32767), StepFailure);
    EXPECT_THROW(PolynomialRegression(s, QList<double>(32768, 1.0), QList<double>(32768, 1.0), 1), StepFailure);
}

TEST(SolveLinearSystem, NoPivotingATinyPivotIsUsedAsItIs) {
    // With a row exchange the answer would be close to (1, 1); the fit
    // eliminates on the tiny pivot and loses x0 entirely, as the stored profiles did.
    AnalysisState s;
    const QList<double> x = SolveLinearSystem(s, {{1e-20, 1}, {1, 1}}, {1, 2});
    EXPECT_EQ(x, (QList<double>{0, 1}));
    EXPECT_EQ(s.regressionX, x);
}

TEST(SolveLinearSystem, ExactlyZeroPivotFailsBeforeTheSolutionIsTouched) {
    AnalysisState s;
    s.regressionX = {5};
    EXPECT_THROW(SolveLinearSystem(s, {{0, 1}, {1, 0}}, {1, 1}), StepFailure);
    EXPECT_EQ(s.regressionX, (QList<double>{5}));
}

TEST(SolveLinearSystem, MalformedSystemsFail) {
    AnalysisState s;
    EXPECT_THROW(SolveLinearSystem(s, {}, {}), StepFailure);
    EXPECT_THROW(SolveLinearSystem(s, {{1, 2}, {3}}, {1, 1}), StepFailure);
    EXPECT_THROW(SolveLinearSystem(s, {{1, 2}, {3, 4}}, {1}), StepFailure);
}

TEST(SolveLinearSystem, ThreeByThree) {
    AnalysisState s;
    EXPECT_EQ(SolveLinearSystem(s, {{2, 1, -1}, {-3, -1, 2}, {-2, 1, 2}}, {8, -11, -3}),
              (QList<double>{2, 3, -1}));
}
