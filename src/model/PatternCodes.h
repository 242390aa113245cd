#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"

namespace chenglan {

// Condenses profile.strengths into profile.code20 (from elements 0..3) and
// profile.code10 (from 4..7): which team is stronger ("A"/"C" home, "B"/"D"
// not), then the direction of each team's value ("3" rising, "1" level within
// 0.01, "0" falling). Afterwards rounds the eight values to two decimals in
// place, ties to the even digit.
void patternCodes(AnalysisState &s, StepLog *log = nullptr);

} // namespace chenglan
