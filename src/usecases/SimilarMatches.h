#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "model/GridData.h"
#include "model/SimilarSet.h"
#include "net/SiteBases.h"
#include "net/Web.h"
#include "sites/SimilarAnswer.h"

#include <QString>

namespace chenglan {

// What the last similar-match query came to, for the status bar.
struct SimilarQueryResult {
    enum class Outcome { Records, NoRecord, Failed };
    Outcome outcome = Outcome::Failed;
    int records = 0;     // rows now in similarMatches
    QString status;      // one sentence saying so

    friend bool operator==(const SimilarQueryResult &, const SimilarQueryResult &) = default;
};

// Builds similarQuery from the list match's profile and listMatchId
// (similarQueryText), runs fetchSimilarMatches, then fillSimilarList into grid.
SimilarQueryResult querySimilarMatches(AnalysisState &s, Web &web, const SiteBases &bases, GridData &grid,
                        StepLog *log = nullptr);

// Fetches the answer to similarQuery from the data service and rebuilds
// similarMatches from it. A failed request or an answer without a record
// leaves similarMatches empty (never the previous query's rows) and says so
// in the result and the log.
SimilarQueryResult fetchSimilarMatches(AnalysisState &s, Web &web, const SiteBases &bases, StepLog *log = nullptr);

} // namespace chenglan
