#pragma once

#include "MatchRecords.h"
#include "MatchStore.h"

#include "usecases/ListAnalysis.h"
#include "base/Table.h"
#include "net/SiteBases.h"
#include "net/Web.h"

#include <QDate>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// Feeding the service from the sites themselves: every finished match of the
// chosen days is analysed by the client's own list analysis as of its
// kick-off, and its profile and facts are stored.
namespace chenglan::dataservice {

// The handicap text of the odds site in goals the home side gives:
// "半球" 0.5, "受让平手/半球" -0.25, "平手" 0. No value for any other text.
std::optional<double> handicapLineFromText(QStringView text);

// The facts a Jingcai schedule row (a MatchTable row) tells of a finished
// match: id, league, colour, full-time score, handicap and odds. No value when
// the row holds no match id or no full-time score ("VS": not finished).
// Teams and kick-off are left to the analysis page, which spells the names as
// the site does and gives the year.
std::optional<MatchFacts> finishedMatchFromRow(const Table &matchTable, int row);

// The facts to store for a match: those already stored (an import knows the
// full league name, the half-time score) are kept, and the ingest fills what
// they lack. Without stored facts the fresh ones are taken as they are.
MatchFacts mergeFacts(const std::optional<MatchFacts> &stored, const MatchFacts &fresh);

// One match of the ingest and what its analysis came to.
struct IngestedMatch {
    MatchFacts facts;                    // the row's facts, completed by the analysis page
    std::optional<MatchProfile> profile; // set when the analysis is complete
    QString failure;                     // why the match is skipped, when it is
};

// Runs the list analysis for the match of `listed` (analyzeMatchId: its page
// lists only matches before it, so the profile is the one it had at
// kick-off) and makes its profile. A match whose page or an extension page
// could not be read, or whose history is too short for a trend of at least
// seven points (what the degree-6 fits need), gets a failure instead of a
// profile. Never throws.
IngestedMatch analyseForIngest(const MatchFacts &listed, const AnalysisContext &context);

struct IngestOptions {
    QDate from;
    QDate to;
    SiteBases sites;
    int workers = 2;       // analyses at once: 1 or 2
    int batchSize = 20;    // matches per transaction
    bool onlyNew = false;  // leave matches that already have a profile and a score
};

struct IngestReport {
    int days = 0;
    int daysFailed = 0;    // schedule pages that could not be read
    int finished = 0;      // finished matches listed on those days
    int unfinished = 0;    // listed but without a full-time score
    int alreadyStored = 0; // left alone by onlyNew
    int inserted = 0;      // profiles new to the database
    int updated = 0;       // profiles that changed
    int unchanged = 0;     // profiles that were stored as they are
    int skipped = 0;       // matches reported and skipped
    int batches = 0;       // transactions committed

    int analysed() const { return inserted + updated + unchanged; }
};

using IngestWebFactory = std::function<std::unique_ptr<Web>()>;

// Lists the Jingcai schedule of every day from options.from to options.to,
// analyses each finished match on at most two worker threads (each with its
// own Web from makeWeb) and stores facts and profiles in batches, one
// transaction each, so an interrupted ingest leaves whole batches and the
// next one completes it. A match that fails is reported and skipped; a day
// whose page cannot be read is reported and counted. `report` gets progress
// and failure lines. Throws StoreError when the database fails; the batches
// committed until then stay.
IngestReport ingest(MatchStore &store, const IngestOptions &options, const IngestWebFactory &makeWeb,
                    const std::function<void(const QString &)> &report);

} // namespace chenglan::dataservice
