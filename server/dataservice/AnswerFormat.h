#pragma once

#include "MatchStore.h"
#include "SimilarityIndex.h"

#include <QByteArray>
#include <QStringList>

#include <string>

// The answer of the similar-match request: one record per match, every field
// followed by "," and every record by "|", encoded in GB18030 (which the
// client decodes as gb2312).
namespace chenglan::dataservice {

// Field numbers of a record. The client reads 0, 2..24 and 27, 28; the rest
// are this service's own.
namespace field {
inline constexpr int MatchId = 0;
inline constexpr int Kickoff = 2;           // "YYYY-MM-DD HH:MM"
inline constexpr int LeagueColour = 3;
inline constexpr int League = 4;            // the short name when the site gives one
inline constexpr int HomeTeam = 5;
inline constexpr int AwayTeam = 6;
inline constexpr int HandicapLine = 7;      // goals the home side gives, shown after its name
inline constexpr int FullTimeHome = 8;
inline constexpr int FullTimeAway = 9;
inline constexpr int HalfTimeHome = 10;
inline constexpr int HalfTimeAway = 11;
inline constexpr int HomeOdds = 12;         // grid column "让球", first line
inline constexpr int AwayOdds = 13;         // second line
inline constexpr int HomeResult = 14;       // "胜", "平", "负" for the home side
inline constexpr int AwayResult = 15;
inline constexpr int FullTimeScore = 16;    // "2:1"
inline constexpr int HalfTimeScore = 17;
inline constexpr int FullTimeGoals = 18;    // goals of both sides
inline constexpr int HalfTimeGoals = 19;
inline constexpr int HomeHalfFull = 20;     // "平胜": half-time then full-time result, home side
inline constexpr int AwayHalfFull = 21;
inline constexpr int Handicap = 22;
inline constexpr int Strength0 = 23;        // 20-match value at the newest point, home
inline constexpr int Strength1 = 24;        // away
inline constexpr int Strength2 = 25;        // 20-match forecast, home
inline constexpr int Strength3 = 26;        // away
inline constexpr int Strength4 = 27;        // 10-match value at the newest point, home
inline constexpr int Strength5 = 28;        // away
inline constexpr int PatternCode20 = 29;
inline constexpr int PatternCode10 = 30;
inline constexpr int Strength6 = 31;        // 10-match value one point earlier, home
inline constexpr int Strength7 = 32;        // away
inline constexpr int Distance = 33;         // to the query, four decimals
inline constexpr int SameCodes = 34;        // "1" when both pattern codes equal the query's
inline constexpr int Stored = 33;           // fields 0..32 do not depend on the query
inline constexpr int Count = 35;
} // namespace field

// The fields of a match that do not depend on the query (0..32). Texts
// never carry "," or "|" (they become "，" and "｜") nor control characters,
// so a name cannot split a record.
QStringList storedFields(const AnswerRow &row);
// Those fields in GB18030, each followed by ",": what the index keeps.
std::string storedRecord(const AnswerRow &row);

// Appends one record of the answer: the stored fields, the distance and the
// same-codes flag, each followed by ",", and the closing "|".
void appendRecord(QByteArray &answer, const SimilarHit &hit);

// A text made safe for a field.
QString fieldText(const QString &text);

} // namespace chenglan::dataservice
