#pragma once

#include "base/AnalysisState.h"
#include "base/Step.h"
#include "model/GridData.h"

#include <QString>

#include <optional>

namespace chenglan {

// Lists similarMatches in the similar-match grid (one made by
// newSimilarListGrid): two lines per record, the league cell of the first
// line in the league's colour, column 0 merged; column 12 of both lines holds
// the similarMatches row. Replaces every earlier line; an unallocated
// similarMatches lists nothing.
void fillSimilarList(const AnalysisState &s, GridData &grid, StepLog *log = nullptr);

// What the listed historic matches say at a glance: how the home side of each
// ended (field 14, 胜/平/负, or else full-time goals 8 and 9) and the mean of
// the distances the service put in field 33.
struct SimilarSetSummary {
    int matches = 0;   // rows of similarMatches
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
