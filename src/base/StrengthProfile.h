#pragma once

#include "base/Table.h"
#include "base/Value.h"

namespace chenglan {

// The eight strength values of a match's profile, by index. The strength
// model writes them from the fitted trends, the pattern codes condense them,
// the strength panel shows them, the similar query sends them in this order
// and the data service stores and compares them.
namespace strength {
inline constexpr int Count = 8;
inline constexpr int Home20 = 0;         // 20-match value at the newest point, home
inline constexpr int Away20 = 1;         // away
inline constexpr int Home20Forecast = 2; // 20-match forecast one point ahead, home
inline constexpr int Away20Forecast = 3; // away
inline constexpr int Home10 = 4;         // 10-match value at the newest point, home
inline constexpr int Away10 = 5;         // away
inline constexpr int Home10Before = 6;   // 10-match value one point earlier, home
inline constexpr int Away10Before = 7;   // away
} // namespace strength

// A match's strength profile as the analysis holds it: the eight values (by
// the strength:: indices; unallocated until an analysis sizes them) and the
// two pattern codes, code20 from values 0..3 and code10 from values 4..7.
// The data service keeps the same profile in hundredths.
struct StrengthProfile {
    ValueArray strengths;
    Value code20;
    Value code10;

    friend bool operator==(const StrengthProfile &, const StrengthProfile &) = default;
};

} // namespace chenglan
