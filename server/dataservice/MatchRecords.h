#pragma once

#include "base/StrengthProfile.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string_view>

// The facts the service keeps about a match and the strength profile the
// client's analysis computed for it.
namespace chenglan::dataservice {

inline constexpr int kStrengthCount = strength::Count;

// The eight strength values in hundredths, by the strength:: indices. The
// client sends them rounded to two decimals, so whole hundredths compare
// exactly and ties are real ties.
using Strengths = std::array<std::int32_t, kStrengthCount>;

// A strength profile as the service stores, is asked for and compares it:
// the client's StrengthProfile with its values in hundredths.
struct HundredthsProfile {
    Strengths strengths{};
    QString code20;
    QString code10;

    bool operator==(const HundredthsProfile &) const = default;
};

// Facts of one match as the sample site exports them. A match is finished when
// both full-time goal counts are known.
struct MatchFacts {
    qint64 matchId = 0;
    QString league;
    QString leagueShort;    // the short name the lists show; may be empty
    QString leagueColour;   // "#" and six hexadecimal digits
    QString homeTeam;
    QString awayTeam;
    QString kickoff;        // "YYYY-MM-DD HH:MM"
    std::optional<int> halfTimeHome;
    std::optional<int> halfTimeAway;
    std::optional<int> fullTimeHome;
    std::optional<int> fullTimeAway;
    QString handicap;       // the handicap line as the site writes it ("半球")
    std::optional<double> handicapLine; // the same in goals the home side gives (0.5)
    std::optional<double> homeOdds;
    std::optional<double> awayOdds;

    bool finished() const { return fullTimeHome && fullTimeAway; }
    bool operator==(const MatchFacts &) const = default;
};

// The client's analysis of a match before its kick-off: the eight strength
// values and the two pattern codes.
struct MatchProfile : HundredthsProfile {
    qint64 matchId = 0;

    bool operator==(const MatchProfile &) const = default;
};

// The profile of an analysis in hundredths; no value, with the reason in
// *why, when a strength is beyond the strength range or a pattern code is
// missing or malformed. A profile without its eight values fails as its
// cells do (StepFailure).
std::optional<HundredthsProfile> hundredthsProfile(const StrengthProfile &profile, QString *why);

// Hundredths of a plain decimal text ("0.35", "-2", "1.005"): digits after the
// second decimal are rounded half to even on the decimal text itself. Empty
// text is 0. No value for anything that is not such a number or is beyond
// the strength range.
std::optional<std::int32_t> hundredthsFromText(std::string_view text);
// Hundredths of a stored number, rounded the same way.
std::optional<std::int32_t> hundredthsFromNumber(double value);
// Back to the plain decimal text: 35 -> "0.35", -200 -> "-2", 5 -> "0.05".
QString hundredthsText(std::int32_t hundredths);

// Pattern codes are short runs of ASCII letters and digits ("A31", "D10"),
// or empty when the analysis could not tell.
bool validPatternCode(QStringView code);

// "YYYY-MM-DD HH:MM" as minutes since 1970-01-01 00:00, or no value.
std::optional<std::int64_t> kickoffMinutes(QStringView kickoff);

// Readable values in failing tests.
QString describe(const MatchFacts &facts);
QString describe(const MatchProfile &profile);
void PrintTo(const MatchFacts &facts, std::ostream *os);
void PrintTo(const MatchProfile &profile, std::ostream *os);

} // namespace chenglan::dataservice
