#pragma once

#include "base/Columns.h"
#include "base/Step.h"
#include "base/StrengthProfile.h"
#include "base/Table.h"

#include <QString>

namespace chenglan {

// Records of one answer kept at most. The service sends a few dozen; the cap
// keeps a broken or hostile answer (a body of nothing but "|") from turning
// into millions of table rows.
inline constexpr int MaxSimilarRecords = 1000;

// The query text of a profile: the eight strength values, the two pattern
// codes and the analysed match's id, as texts separated by ",". A strength
// value the profile lacks is left out with its "," (and logged).
QString similarQueryText(const StrengthProfile &profile, const Value &matchId, StepLog *log = nullptr);

// The service address of a query: ServiceBase + "shili/deep_jc.asp?sql=" and
// the query text. Characters other than letters, digits and ",.-_~" are
// percent-encoded, so an id holding "&" or "#" cannot change the request; the
// texts the query is made of pass unchanged.
QString similarQueryUrl(const QString &serviceBase, const QString &query);

// The records of a service answer: pieces separated by "|", the piece after
// the last "|" dropped; fields separated by ",", the piece after the last ","
// of a record dropped; fields past column 50 dropped; every cell the text as
// received. No "|" gives a table of 51 columns and no row. At most
// MaxSimilarRecords rows; *truncated tells whether records were left off.
Table parseSimilarAnswer(const QString &answer, bool *truncated = nullptr);

} // namespace chenglan
