#include "SimilarQuery.h"

#include "ServiceLimits.h"

#include <QStringList>

#include <vector>

namespace chenglan::dataservice {

namespace {

constexpr int kQueryFields = kStrengthCount + 3;

QueryParse failure(const QString &why) { return QueryParse{std::nullopt, why}; }

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return pieces;
        start = end + 1;
    }
}

bool allDigits(std::string_view text) {
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

std::optional<std::string> percentDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0)
            return std::nullopt;
        decoded += char(high * 16 + low);
        i += 2;
    }
    return decoded;
}

QueryParse parseSimilarQuery(std::string_view text) {
    if (text.size() > limits::kMaxQueryChars)
        return failure(QStringLiteral("query longer than %1 characters").arg(limits::kMaxQueryChars));
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7f)
            return failure(QStringLiteral("query holds a character outside printable ASCII"));
    }
    const auto fields = split(text, ',');
    if (fields.size() != kQueryFields)
        return failure(QStringLiteral("query has %1 fields, expected %2").arg(fields.size()).arg(kQueryFields));

    SimilarQuery query;
    for (int i = 0; i < kStrengthCount; ++i) {
        const auto value = hundredthsFromText(fields[i]);
        if (!value)
            return failure(QStringLiteral("field %1 is not a strength value").arg(i + 1));
        query.strengths[i] = *value;
    }
    const auto code20 = QString::fromLatin1(fields[8].data(), qsizetype(fields[8].size()));
    const auto code10 = QString::fromLatin1(fields[9].data(), qsizetype(fields[9].size()));
    if (!validPatternCode(code20))
        return failure(QStringLiteral("field 9 is not a pattern code"));
    if (!validPatternCode(code10))
        return failure(QStringLiteral("field 10 is not a pattern code"));
    query.code20 = code20;
    query.code10 = code10;

    const std::string_view id = fields[10];
    if (!id.empty()) {
        if (id.size() > limits::kMaxMatchIdDigits || !allDigits(id))
            return failure(QStringLiteral("field 11 is not a match id"));
        query.excludedMatchId = QByteArray(id.data(), qsizetype(id.size())).toLongLong();
    }
    return QueryParse{query, {}};
}

QueryParse similarQueryFromParameters(std::string_view queryString) {
    std::optional<std::string_view> raw;
    for (std::string_view pair : split(queryString, '&')) {
        const std::size_t eq = pair.find('=');
        const std::string_view key = pair.substr(0, eq);
        if (key != "sql")
            continue;
        if (raw)
            return failure(QStringLiteral("parameter sql given twice"));
        raw = eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
    }
    if (!raw)
        return failure(QStringLiteral("parameter sql missing"));
    if (raw->size() > 3 * limits::kMaxQueryChars)
        return failure(QStringLiteral("query longer than %1 characters").arg(limits::kMaxQueryChars));
    const auto decoded = percentDecode(*raw);
    if (!decoded)
        return failure(QStringLiteral("bad percent-encoding in parameter sql"));
    return parseSimilarQuery(*decoded);
}

} // namespace chenglan::dataservice
