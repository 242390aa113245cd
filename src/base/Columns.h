#pragma once

// The columns of the tables of an analysis, named once for every layer that
// reads or writes them (sites fill them, the model and the charts read them).
// A table's cells are addressed (column, row).
namespace chenglan {

// analysisData: the parts of an analysis page, by element.
namespace analysisdata {
inline constexpr int Elements = 4;
inline constexpr int HomeList = 0;  // the page's home-side history list
inline constexpr int AwayList = 1;  // its away-side history list
inline constexpr int ThirdList = 2;
inline constexpr int InfoLine = 3;  // ids, names and kick-off of the match
} // namespace analysisdata

// homeHistory and awayHistory: a row per match of the team, newest first.
// Fields 0..16 of a history record are kept as text in the column of the same
// number; the columns from 17 on are derived.
namespace history {
inline constexpr int Columns = 31;
inline constexpr int DateColumn = 0;       // the match's kick-off
inline constexpr int HomeIdColumn = 4;     // team id of the home side
inline constexpr int AwayIdColumn = 6;     // team id of the away side
inline constexpr int HomeGoalsColumn = 8;
inline constexpr int AwayGoalsColumn = 9;
inline constexpr int ResultColumn = 12;    // 1 win, 0 draw, -1 loss of the team
inline constexpr int MatchIdColumn = 15;
inline constexpr int RecordFields = 17;    // fields 0..16 are kept
inline constexpr int OwnGoalsColumn = 17;
inline constexpr int ConcededColumn = 18;
inline constexpr int ScoreColumn = 21;     // ResultScore of the match
inline constexpr int Average20Column = 22; // mean score of this and the 19 older matches
inline constexpr int ValidUntilColumn = 23; // the day this row stopped being the latest form
inline constexpr int Average10Column = 24; // mean score of this and the 9 older matches
inline constexpr int SameSideColumn = 28;  // SameSideMark when the team played on its side of the analysed match
inline constexpr int SameSideMark = 2;
} // namespace history

// trendSeries: a row per paired point, oldest first. Columns 0..5 are the
// series, column c + FittedOffset the polynomial fitted to column c.
namespace trend {
inline constexpr int Columns = 21;
inline constexpr int Home20Column = 0;       // home 20-match average
inline constexpr int Away20Column = 1;       // away 20-match average
inline constexpr int Difference20Column = 2; // home minus away
inline constexpr int Home10Column = 3;       // home 10-match average
inline constexpr int Away10Column = 4;
inline constexpr int Difference10Column = 5;
inline constexpr int SeriesCount = 6;
inline constexpr int FittedOffset = 6;
} // namespace trend

// matchTable of ScheduleState: a row per match of the schedule page.
namespace matchtable {
inline constexpr int Fields = 21;
inline constexpr int MatchIdField = 0;
inline constexpr int LeagueColourField = 1;
inline constexpr int LeagueField = 2;
inline constexpr int KickOffField = 3;
inline constexpr int HandicapSuffixField = 4; // Beidan only: " (handicap)"
inline constexpr int HomeTeamField = 5;
inline constexpr int ScoreField = 6;
inline constexpr int AwayTeamField = 7;
inline constexpr int HomeOddsField = 8;
inline constexpr int HandicapField = 9;
inline constexpr int AwayOddsField = 10;
} // namespace matchtable

// similarMatches: a row per record of the data service's answer, columns
// 0..50 of the record as text. The data service writes its answer by these
// numbers too.
inline constexpr int SimilarMatchColumns = 51;
namespace similar {
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
} // namespace similar

// handicapSummary: items (columns) by match (rows 0 the list match, 1 the
// similar match). Items 0..3 are the earliest kept change, 4..7 the latest,
// each as home odds, handicap text, away odds, change time.
inline constexpr int HandicapItems = 8;
inline constexpr int HandicapMatches = 2;
namespace handicap {
inline constexpr int ListMatchRow = 0;
inline constexpr int SimilarMatchRow = 1;
inline constexpr int EarliestItems = 0;
inline constexpr int LatestItems = 4;
inline constexpr int HomeOddsItem = 0; // from EarliestItems or LatestItems on
inline constexpr int HandicapItem = 1;
inline constexpr int AwayOddsItem = 2;
inline constexpr int TimeItem = 3;
} // namespace handicap

} // namespace chenglan
