#include "model/PatternCodes.h"

#include "base/TextRules.h"

#include <cmath>

namespace chenglan {

namespace {

constexpr double LevelThreshold = 0.01;

// Direction of one team's value from an earlier to a later point.
QString direction(double earlier, double later) {
    if (std::fabs(later - earlier) <= LevelThreshold)
        return QStringLiteral("1");
    if (later > earlier)
        return QStringLiteral("3");
    if (later < earlier)
        return QStringLiteral("0");
    return {};
}

} // namespace

void patternCodes(AnalysisState &s, StepLog *log) {
    const auto S = [&](int i) { return s.profile.strengths.at(i).number(); };
    QString c1, c2, c3, c4, c5, c6;
    using namespace strength;
    attempt([&] { c1 = S(Home20) > S(Away20) ? QStringLiteral("A") : QStringLiteral("B"); }, log);
    attempt([&] { c2 = direction(S(Home20), S(Home20Forecast)); }, log);
    attempt([&] { c3 = direction(S(Away20), S(Away20Forecast)); }, log);
    attempt([&] { c4 = S(Home10) > S(Away10) ? QStringLiteral("C") : QStringLiteral("D"); }, log);
    attempt([&] { c5 = direction(S(Home10Before), S(Home10)); }, log);
    attempt([&] { c6 = direction(S(Away10Before), S(Away10)); }, log);
    for (int i = 0; i < Count; ++i)
        attempt([&] { s.profile.strengths.set(i, Value(text::roundHalfEven(S(i), 2))); }, log);
    s.profile.code20 = Value(c1 + c2 + c3);
    s.profile.code10 = Value(c4 + c5 + c6);
}

} // namespace chenglan
