// libFuzzer target for a whole analysis of one match (analyzeMatchId): the
// input holds the pages the run fetches, separated by a line "=====PAGE=====";
// the first is the analysed match's page, the next ones answer the history
// extensions (the last page answers every further fetch). The pages are
// decoded as a browser would (charset from the page), cut and split by loadAnalysisPage,
// parsed by parseTeamHistories, extended by extendHomeHistory and extendAwayHistory, and modelled. Run by scripts/fuzz.
#include "FuzzSupport.h"

#include "sites/HistoryParsing.h"
#include "usecases/ListAnalysis.h"

#include <QJsonDocument>

#include <cmath>

using namespace chenglan;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzzing::startApplication(argc, argv);
    return 0;
}

namespace {

void checkHistory(const Table &t) {
    if (!t.allocated())
        return;
    FUZZ_CHECK(t.columns() == history::Columns);
    // At most 30 rows from the page and 30 from the extension.
    FUZZ_CHECK(t.rows() <= 2 * history::MaxRecords);
    for (int r = 0; r < t.rows(); ++r) {
        // Text where extendAwayHistory stopped at a long record and left its copied field.
        const Value &score = t.at(history::ScoreColumn, r);
        if (score.isEmpty() || score.isText())
            continue;
        FUZZ_CHECK(score.isNumber());
        const double v = score.number();
        FUZZ_CHECK(v >= -2.25 && v <= 2.25 && v * 4 == std::floor(v * 4));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QList<QByteArray> pages = fuzzing::parts(fuzzing::bytes(data, size), "\n=====PAGE=====\n", 3);
    fuzzing::PagesWeb web(pages, "text/html");
    const PageRenderer renderer(fuzzing::shortLimits());
    const SiteBases bases;
    const AnalysisContext context{web, bases, renderer};

    AnalysisState s;
    const AnalysisRun run = analyzeMatchId(s, Value(QStringLiteral("100")), context);

    // The analysed page and at most one page per extension.
    FUZZ_CHECK(web.served() >= 1 && web.served() <= 3);
    FUZZ_CHECK(s.analysisData.size() == 4);
    checkHistory(s.homeHistory);
    checkHistory(s.awayHistory);
    FUZZ_CHECK(!run.status.isEmpty());
    FUZZ_CHECK(run.ok == (run.pageRead && run.hasTrend));
    FUZZ_CHECK(!QJsonDocument(analysisJson(s, run)).toJson().isEmpty());
    return 0;
}
