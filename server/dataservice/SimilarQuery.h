#pragma once

#include "MatchRecords.h"

#include <QString>

#include <optional>
#include <string>
#include <string_view>

// The query of the similar-match request: eleven comma-separated fields, the
// eight strength values, the two pattern codes and the analysed match id.
namespace chenglan::dataservice {

struct SimilarQuery : HundredthsProfile {
    std::optional<qint64> excludedMatchId; // the analysed match itself

    bool operator==(const SimilarQuery &) const = default;
};

// A parsed query, or why the text is not one. The reason never repeats the
// text it was given.
struct QueryParse {
    std::optional<SimilarQuery> query;
    QString error;
};

// Reads the eleven fields. Strength fields are empty or plain decimals (empty
// counts as 0); pattern codes are empty or up to eight ASCII letters and
// digits; the match id is empty or digits.
QueryParse parseSimilarQuery(std::string_view text);

// Decodes %XX escapes; no value when a "%" is not followed by two hexadecimal
// digits. "+" stays "+": the client never encodes a blank.
std::optional<std::string> percentDecode(std::string_view text);

// The decoded value of the one "sql" parameter of a query string
// ("sql=...&x=y"). An error when it is missing, given twice or badly encoded.
QueryParse similarQueryFromParameters(std::string_view queryString);

} // namespace chenglan::dataservice
