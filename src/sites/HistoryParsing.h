#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"

#include <QStringList>

namespace chenglan {

// Result score of one match from the goals a team scored and conceded (value
// cells: numbers or numeric text): a win by k goals (k up to 4) scores k/2,
// plus 0.25 when the beaten side scored too; a goalless draw 0, a scoring
// draw 0.25; losses mirror wins; margins beyond 4 give ±2.25. A fractional
// margin inside -4..4 (only possible with fractional goal texts) gives an
// empty cell.
Value ResultScore(const Value &own, const Value &conceded);

// Builds homeHistory and awayHistory (31 columns, at most 30 rows, newest
// first) from the home and away history lists of analysisData (elements 0
// and 1): record fields 0..16 as text, the team's own goals (17), the goals
// conceded (18), the result score (21), and 2 in column 28 when the team
// played that match on the side it plays in the analysed match.
void parseTeamHistories(AnalysisState &s, StepLog *log = nullptr);

// Shared by the parser and the extension.
namespace history {

// Records of a history list read at most. A record's field k lands in
// column k of the table (base/Columns.h names them).
inline constexpr int MaxRecords = 30;

// The records of a history list: the text split at "|" without the part
// after the last "|" (empty for a well-formed list), at most 30 of them.
QStringList records(const QString &list);

// The numeric value of a record field: the number at its start, blanks,
// tabs and line feeds skipped wherever they stand before it.
double fieldNumber(const QString &field);

// The fields of a record split at ","; an empty record has no field.
QStringList fields(const QString &record);

// Field index of a record split at ","; a missing field throws StepFailure.
const QString &field(const QStringList &fields, int index);

} // namespace history

} // namespace chenglan
