#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "model/GridData.h"
#include "net/SiteBases.h"
#include "net/Web.h"

#include <QString>

#include <optional>

namespace chenglan {

// SimilarMatches holds columns 0..50 of every answer record.
inline constexpr int SimilarMatchColumns = 51;
// Records of one answer kept at most. The service sends a few dozen; the cap
// keeps a broken or hostile answer (a body of nothing but "|") from turning
// into millions of table rows.
inline constexpr int MaxSimilarRecords = 1000;

// What the last similar-match query came to, for the status bar.
struct SimilarQueryResult {
    enum class Outcome { Records, NoRecord, Failed };
    Outcome outcome = Outcome::Failed;
    int records = 0;     // rows now in SimilarMatches
    QString status;      // one sentence saying so

    friend bool operator==(const SimilarQueryResult &, const SimilarQueryResult &) = default;
};

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

// Builds SimilarQuery from StrengthSummary 0..7, PatternCode20,
// PatternCode10 and ListMatchId, runs EASQL, then BJBM into grid.
SimilarQueryResult AITJ(AnalysisState &s, Web &web, const SiteBases &bases, GridData &grid,
                        StepLog *log = nullptr);

// Fetches the answer to SimilarQuery from the data service and rebuilds
// SimilarMatches from it. A failed request or an answer without a record
// leaves SimilarMatches empty (never the previous query's rows) and says so
// in the result and the log.
SimilarQueryResult EASQL(AnalysisState &s, Web &web, const SiteBases &bases, StepLog *log = nullptr);

// Lists SimilarMatches in the similar-match grid (one made by
// newSimilarListGrid): two lines per record, the league cell of the first
// line in the league's colour, column 0 merged; column 12 of both lines holds
// the SimilarMatches row. Replaces every earlier line; an unallocated
// SimilarMatches lists nothing.
void BJBM(const AnalysisState &s, GridData &grid, StepLog *log = nullptr);

// What the listed historic matches say at a glance: how the home side of each
// ended (field 14, 胜/平/负, or else full-time goals 8 and 9) and the mean of
// the distances the service put in field 33.
struct SimilarSetSummary {
    int matches = 0;   // rows of SimilarMatches
    int wins = 0;
    int draws = 0;
    int losses = 0;
    int unknown = 0;   // rows with neither a result nor a score
    std::optional<double> meanDistance; // over the rows that carry one

    // One line for the command strip, e.g. "相似 30 场：主胜 12 平 9 负 9，平均距离 0.84";
    // empty when there is no match.
    QString text() const;
    friend bool operator==(const SimilarSetSummary &, const SimilarSetSummary &) = default;
};
SimilarSetSummary summarizeSimilarSet(const AnalysisState &s);

} // namespace chenglan
