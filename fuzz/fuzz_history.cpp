// libFuzzer target for what loadAnalysisPage makes of a page and what the history steps
// make of that, without the renderer: the input stands for the body markup
// (cut by analysispage::scriptCode) and for the rendered text (split by
// analysispage::sections into the home list, the away list, the third list
// and the info line), which parseTeamHistories parses and extendHomeHistory and extendAwayHistory extend with the
// same lists. Run by scripts/fuzz.
#include "FuzzSupport.h"

#include "sites/HistoryExtension.h"
#include "sites/HistoryParsing.h"
#include "sites/AnalysisPage.h"

#include <cmath>

using namespace chenglan;

namespace {

// A result score: empty (a fractional margin) or a quarter step in
// -2.25..2.25. Extended rows may hold a copied record field instead: extendAwayHistory
// stops at a record of more than 31 fields before it computes the score.
void checkScore(const Value &score, bool copiedTextAllowed = false) {
    if (score.isEmpty() || (copiedTextAllowed && score.isText()))
        return;
    FUZZ_CHECK(score.isNumber());
    const double v = score.number();
    FUZZ_CHECK(v >= -2.25 && v <= 2.25 && v * 4 == std::floor(v * 4));
}

int recordsIn(const ValueArray &data, int element) {
    return int(std::min<qsizetype>(data.at(element).text().count(u'|'), history::MaxRecords));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    // The cut is a piece of the markup.
    const QString code = analysispage::scriptCode(text);
    FUZZ_CHECK(text.contains(code));
    FUZZ_CHECK(analysispage::dumpPage(code).contains(code));

    AnalysisState s;
    s.analysisData = analysispage::sections(text);
    FUZZ_CHECK(s.analysisData.size() == 4);
    QString joined;
    for (int i = 0; i < 4; ++i)
        joined += s.analysisData.at(i).text() + (i < 3 ? QStringLiteral("$") : QString());
    FUZZ_CHECK(text.startsWith(joined.left(text.size())));

    // Team ids as the info line gives them.
    const QStringList info = s.analysisData.at(3).text().split(u',');
    s.homeTeamId = Value(history::fieldNumber(info.value(0)));
    s.awayTeamId = Value(history::fieldNumber(info.value(1)));
    s.currentMatchId = Value(QStringLiteral("100"));

    StepLog log;
    parseTeamHistories(s, &log);
    FUZZ_CHECK(s.homeHistory.rows() == recordsIn(s.analysisData, 0));
    FUZZ_CHECK(s.awayHistory.rows() == recordsIn(s.analysisData, 1));
    for (const Table *t : {&s.homeHistory, &s.awayHistory}) {
        for (int r = 0; r < t->rows(); ++r) {
            checkScore(t->at(history::ScoreColumn, r));
            const Value &side = t->at(history::SameSideColumn, r);
            FUZZ_CHECK(side.isEmpty() || side.equals(2));
        }
    }

    // The same page read as the page of each side's oldest match.
    const int homeRows = s.homeHistory.rows();
    const int awayRows = s.awayHistory.rows();
    const int side = size > 0 ? data[0] % 2 : 0;
    s.sideIndex = Value::fromInt16(std::int16_t(side));
    extendHomeHistory(s, &log);
    FUZZ_CHECK(s.homeHistory.rows() == homeRows + recordsIn(s.analysisData, side));
    s.sideIndex = Value::fromInt16(std::int16_t(1 - side));
    extendAwayHistory(s, &log);
    FUZZ_CHECK(s.awayHistory.rows() == awayRows + recordsIn(s.analysisData, 1 - side));
    for (const Table *t : {&s.homeHistory, &s.awayHistory})
        for (int r = 0; r < t->rows(); ++r)
            checkScore(t->at(history::ScoreColumn, r), true);

    // ResultScore of two fields of the input, and its mirror.
    const QStringList fields = text.split(u',');
    if (fields.size() >= 2) {
        const Value a(fields[0]);
        const Value b(fields[1]);
        const Value forward = ResultScore(a, b);
        const Value mirrored = ResultScore(b, a);
        checkScore(forward);
        FUZZ_CHECK(forward.isEmpty() == mirrored.isEmpty());
        // A scoring draw is a quarter for either side; anything else mirrors.
        FUZZ_CHECK(forward.isEmpty() || forward.number() == -mirrored.number() || forward.number() == mirrored.number());
    }
    return 0;
}
