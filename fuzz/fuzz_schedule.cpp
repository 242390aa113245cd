// libFuzzer target for the two schedule scrapers: the input is the body of
// the schedule page (decoded as UTF-8, as fetched), read by scrapeJingcaiSchedule and by
// scrapeBeidanSchedule, then listed by fillMatchList (league colours through HexColorToRgb). Run by
// scripts/fuzz.
#include "FuzzSupport.h"

#include "model/GridFormats.h"
#include "model/MatchListGrid.h"
#include "sites/ScheduleScraper.h"

using namespace chenglan;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzzing::startApplication(argc, argv);
    return 0;
}

namespace {

void checkListing(const ScheduleState &s, const StepLog &log) {
    // The table and its flags always have the same rows.
    FUZZ_CHECK(!s.matchTable.allocated() || s.matchTable.rows() == s.matchRowFlags.size());
    const int listed = listedMatchCount(s);
    FUZZ_CHECK(listed <= s.matchTable.rows());
    FUZZ_CHECK(!scheduleStatusText(QStringLiteral("x"), s, log).isEmpty());

    GridData grid = newMatchListGrid();
    StepLog gridLog;
    fillMatchList(grid, s, &gridLog);
    FUZZ_CHECK(grid.rows() == 1 + listed);
    // Ten cells a line (no tab inside a cell), the row key naming a listed
    // matchTable row, in order.
    int previous = -1;
    for (int r = 1; r < grid.rows(); ++r) {
        bool ok = false;
        const int row = grid.text(r, 9).toInt(&ok);
        FUZZ_CHECK(ok && row > previous && row < s.matchTable.rows());
        FUZZ_CHECK(s.matchRowFlags.at(row).equals(1));
        FUZZ_CHECK(matchListLine(s.matchTable, row).count(u'\t') == 9);
        previous = row;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray body = fuzzing::bytes(data, size);
    const PageRenderer renderer(fuzzing::shortLimits());
    SiteBases sites;
    {
        fuzzing::PagesWeb web({body}, "text/html; charset=utf-8");
        ScheduleState s;
        StepLog log;
        scrapeJingcaiSchedule(s, QStringLiteral("2022-10-9"), web, sites, renderer, &log);
        checkListing(s, log);
    }
    {
        fuzzing::PagesWeb web({body}, "text/html; charset=utf-8");
        ScheduleState s;
        StepLog log;
        scrapeBeidanSchedule(s, web, sites, renderer, &log);
        checkListing(s, log);
    }
    return 0;
}
