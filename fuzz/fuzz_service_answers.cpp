// libFuzzer target for the two answers of the data service's side: the
// input is the body of the similar-match answer (querySimilarMatches: fetchSimilarMatches reads it, fillSimilarList
// lists it, summarizeSimilarSet condenses it) and of a server slot's link
// file (SelectServerSlot), both decoded as GB18030 as fetched. Run by
// scripts/fuzz.
#include "FuzzSupport.h"

#include "model/GridFormats.h"
#include "usecases/SimilarMatches.h"
#include "sites/ServiceEndpoint.h"

#include <QUrl>

#include <cmath>

using namespace chenglan;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzzing::startApplication(argc, argv);
    return 0;
}

namespace {

void similarAnswer(const QByteArray &body) {
    fuzzing::PagesWeb web({body}, "text/plain");
    const SiteBases bases;
    AnalysisState s;
    s.profile.strengths = ValueArray(8);
    s.listMatchId = Value(QStringLiteral("100"));
    GridData grid = newSimilarListGrid();
    StepLog log;
    const SimilarQueryResult result = querySimilarMatches(s, web, bases, grid, &log);
    FUZZ_CHECK(web.served() == 1);
    FUZZ_CHECK(!result.status.isEmpty());

    const Table &t = s.similarMatches;
    FUZZ_CHECK(t.allocated() && t.columns() == SimilarMatchColumns);
    FUZZ_CHECK(t.rows() == result.records);
    // A record per "|" at most, and never more than the cap.
    FUZZ_CHECK(t.rows() <= body.count('|') && t.rows() <= MaxSimilarRecords);
    FUZZ_CHECK((result.outcome == SimilarQueryResult::Outcome::Records) == (t.rows() > 0));
    // Two grid lines a record, each naming its record in column 12.
    FUZZ_CHECK(grid.rows() == 1 + 2 * t.rows());
    for (int g = 1; g < grid.rows(); ++g)
        FUZZ_CHECK(grid.text(g, 12) == QString::number((g - 1) / 2));

    const SimilarSetSummary summary = summarizeSimilarSet(s);
    FUZZ_CHECK(summary.matches == t.rows());
    FUZZ_CHECK(summary.wins + summary.draws + summary.losses + summary.unknown == summary.matches);
    FUZZ_CHECK(!summary.meanDistance || (std::isfinite(*summary.meanDistance) && *summary.meanDistance >= 0));
    FUZZ_CHECK(summary.text().isEmpty() == (summary.matches == 0));
}

void linkFile(const QByteArray &body, int slot) {
    fuzzing::PagesWeb web({body}, "text/plain");
    SiteBases bases;
    const QString before = bases.service;
    StepLog log;
    const ServerSlotChoice choice = SelectServerSlot(bases, slot, web, &log);
    FUZZ_CHECK(choice.slot == slot && !choice.status.isEmpty());
    if (!choice.changed) {
        FUZZ_CHECK(bases.service == before);
        return;
    }
    // Only an http(s) address ending in "/" is taken, and it reads back as itself.
    FUZZ_CHECK(bases.service.startsWith(u"http://", Qt::CaseInsensitive)
               || bases.service.startsWith(u"https://", Qt::CaseInsensitive));
    FUZZ_CHECK(bases.service.endsWith(u'/'));
    FUZZ_CHECK(serviceBaseFromLink(bases.service) == bases.service);
    // A query appended to it stays on the service's host.
    const QUrl query(similarQueryUrl(bases.service, QStringLiteral("1,2,3,4,5,6,7,8,A,B,100")));
    FUZZ_CHECK(query.host() == QUrl(bases.service).host());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray body = fuzzing::bytes(data, size);
    similarAnswer(body);
    linkFile(body, int(size % ServerSlotCount));
    return 0;
}
