#pragma once

#include <QString>

namespace chenglan::sample {

// The Chinese name of an Asian handicap line in goals the home side gives:
// 0.5 -> "半球", 0.75 -> "半球/一球", -1 -> "受让一球".
QString handicapText(double line);

// Prices as the pages print them: two decimals.
QString priceText(double price);

// The home side's handicap result against `line`: 1 won, 0.5 half won, 0 push,
// -0.5 half lost, -1 lost. Quarter lines split the stake over the two
// neighbouring half-goal lines.
double handicapResult(int homeGoals, int awayGoals, double line);

} // namespace chenglan::sample
