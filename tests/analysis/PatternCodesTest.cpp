#include "model/PatternCodes.h"

#include <gtest/gtest.h>

using namespace chenglan;

namespace {

AnalysisState withSummary(const QList<double> &values) {
    AnalysisState s;
    s.profile.strengths = ValueArray(8);
    for (int i = 0; i < values.size(); ++i)
        s.profile.strengths.set(i, Value(values[i]));
    return s;
}

} // namespace

TEST(PatternCodes, EmptyOrZeroSummaryIsLevelAndNotStronger) {
    AnalysisState s = withSummary({});
    patternCodes(s);
    EXPECT_EQ(s.profile.code20, Value(u"B11"));
    EXPECT_EQ(s.profile.code10, Value(u"D11"));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(s.profile.strengths.at(i), Value(0.0)) << i;
}

TEST(PatternCodes, DirectionsAroundTheLevelThreshold) {
    AnalysisState s = withSummary({1.20, 0.90, 1.215, 0.80, 0.50, 0.70, 0.55, 0.60});
    patternCodes(s);
    EXPECT_EQ(s.profile.code20, Value(u"A30"));
    EXPECT_EQ(s.profile.code10, Value(u"D03"));

    s = withSummary({1.000, 0.0, 1.005, 0.01, 0.3, 0.3, 0.3, 0.3});
    patternCodes(s);
    EXPECT_EQ(s.profile.code20, Value(u"A11")); // 0.005 and exactly 0.01 are level
    EXPECT_EQ(s.profile.code10, Value(u"D11"));

    // The difference is taken in binary: 1 - 0.99 is a little over 0.01.
    s = withSummary({1.0, 1.0, 0.99, 1.0, 0, 0, 0, 0});
    patternCodes(s);
    EXPECT_EQ(s.profile.code20, Value(u"B01"));

    s = withSummary({-0.5, -0.6, -0.52, -0.5, 0.81, 0.8, 0.75, 0.9});
    patternCodes(s);
    EXPECT_EQ(s.profile.code20, Value(u"A03"));
    EXPECT_EQ(s.profile.code10, Value(u"C30"));
}

TEST(PatternCodes, CodesComeFromTheUnroundedValues) {
    // 1.004 and 1.015 differ by 0.011 (rising); rounded they would be 1.00
    // and 1.02, rounded first 1.004 vs 1.006 would be level.
    AnalysisState s = withSummary({1.004, 1.0, 1.015, 1.0, 0, 0, 0, 0});
    patternCodes(s);
    EXPECT_EQ(s.profile.code20, Value(u"A31"));
    EXPECT_EQ(s.profile.strengths.at(0), Value(1.0));
}

TEST(PatternCodes, RoundsInPlaceTiesToEven) {
    AnalysisState s = withSummary({1.23456, 0.125, 0.375, -0.125, 2.675, 0.995, -1.0, 0.0049});
    patternCodes(s);
    const double expected[] = {1.23, 0.12, 0.38, -0.12, 2.68, 1.0, -1.0, 0.0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(s.profile.strengths.at(i), Value(expected[i])) << i;
}

TEST(PatternCodes, UnallocatedSummaryGivesEmptyCodes) {
    AnalysisState s;
    s.profile.code20 = Value(u"A33");
    StepLog log;
    patternCodes(s, &log);
    EXPECT_EQ(s.profile.code20, Value(QString()));
    EXPECT_EQ(s.profile.code10, Value(QString()));
    EXPECT_FALSE(s.profile.strengths.allocated());
    EXPECT_FALSE(log.empty());
}
