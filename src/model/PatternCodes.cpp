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
    const auto S = [&](int i) { return s.strengthSummary.at(i).number(); };
    QString c1, c2, c3, c4, c5, c6;
    attempt([&] { c1 = S(0) > S(1) ? QStringLiteral("A") : QStringLiteral("B"); }, log);
    attempt([&] { c2 = direction(S(0), S(2)); }, log);
    attempt([&] { c3 = direction(S(1), S(3)); }, log);
    attempt([&] { c4 = S(4) > S(5) ? QStringLiteral("C") : QStringLiteral("D"); }, log);
    attempt([&] { c5 = direction(S(6), S(4)); }, log);
    attempt([&] { c6 = direction(S(7), S(5)); }, log);
    for (int i = 0; i < 8; ++i)
        attempt([&] { s.strengthSummary.set(i, Value(text::roundHalfEven(S(i), 2))); }, log);
    s.patternCode20 = Value(c1 + c2 + c3);
    s.patternCode10 = Value(c4 + c5 + c6);
}

} // namespace chenglan
