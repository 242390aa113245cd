#pragma once

#include "MatchStore.h"
#include "base/Columns.h"
#include "SimilarityIndex.h"

#include <QByteArray>
#include <QStringList>

#include <string>

// The answer of the similar-match request: one record per match, every field
// followed by "," and every record by "|", encoded in GB18030 (which the
// client decodes as gb2312).
namespace chenglan::dataservice {

// Field numbers of a record: the columns of the client's similarMatches
// (base/Columns.h). The client reads 0, 2..24 and 27, 28; the rest are this
// service's own.
namespace field {
using namespace chenglan::similar;
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
