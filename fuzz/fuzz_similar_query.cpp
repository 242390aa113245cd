// libFuzzer target for the data service's reading of a similar-match
// request: the input is the query string of the request
// (similarQueryFromParameters: the "sql" parameter, percent-decoded, then
// parseSimilarQuery) and, on its own, the query text. A query that reads
// must read the same when written back in the client's form. Run by
// scripts/fuzz.
#include "FuzzSupport.h"

#include "MatchRecords.h"
#include "SimilarQuery.h"

#include <string>

using namespace chenglan;
using namespace chenglan::dataservice;

namespace {

// The query as the client writes it: eleven comma-separated fields.
std::string written(const SimilarQuery &q) {
    QString text;
    for (const std::int32_t h : q.strengths)
        text += hundredthsText(h) + u',';
    text += q.code20 + u',' + q.code10 + u',';
    if (q.excludedMatchId)
        text += QString::number(*q.excludedMatchId);
    return text.toStdString();
}

std::string percentEncoded(const std::string &text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

void checkParse(const QueryParse &parse) {
    FUZZ_CHECK(parse.query.has_value() == parse.error.isEmpty());
    if (!parse.query)
        return;
    const std::string again = written(*parse.query);
    const QueryParse reread = parseSimilarQuery(again);
    FUZZ_CHECK(reread.query && *reread.query == *parse.query);
    // Through the request, percent-encoded as a whole, among other parameters.
    const QueryParse viaRequest = similarQueryFromParameters("a=1&sql=" + percentEncoded(again) + "&b=%zz");
    FUZZ_CHECK(viaRequest.query && *viaRequest.query == *parse.query);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    checkParse(similarQueryFromParameters(input));
    checkParse(parseSimilarQuery(input));
    if (const auto decoded = percentDecode(input)) {
        FUZZ_CHECK(decoded->size() <= input.size());
        const auto again = percentDecode(percentEncoded(*decoded));
        FUZZ_CHECK(again && *again == *decoded);
    }
    return 0;
}
