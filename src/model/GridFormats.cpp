#include "model/GridFormats.h"

namespace chenglan {

namespace {

void formatColumns(GridData &grid, int lastColumn, int width, std::initializer_list<std::pair<int, int>> widths,
                   StepLog *log) {
    for (int c = 0; c <= lastColumn; ++c) {
        attempt([&] { grid.setColumnAlignment(c, GridData::Center); }, log);
        attempt([&] { grid.setColumnWidth(c, width); }, log);
    }
    // A pair, not a structured binding: clang before 16 cannot capture those.
    for (const auto &columnWidth : widths)
        attempt([&] { grid.setColumnWidth(columnWidth.first, columnWidth.second); }, log);
}

} // namespace

void formatMatchListGrid(GridData &matchList, StepLog *log) {
    attempt([&] { matchList.setFormat(QStringLiteral("联赛 |>时间 |>主队 |>客队 |>主水 |>盘口 |>客水 |>比分 ")); }, log);
    using namespace matchlist;
    formatColumns(matchList, LastFormattedColumn, 600,
                  {{LeagueColumn, 800}, {TimeColumn, 600}, {HomeTeamColumn, 1000}, {AwayTeamColumn, 1000},
                   {HandicapColumn, 1000}},
                  log);
}

void formatSimilarListGrid(GridData &similarList, StepLog *log) {
    attempt([&] {
        similarList.setFormat(
            QStringLiteral("联赛 |>时间 |>球队 |>盘口 |>实力Ⅰ |>实力Ⅱ |>让球 |>胜平负 |>比分 |>进球数 |>半全场 |>"));
    }, log);
    using namespace similarlist;
    formatColumns(similarList, LastFormattedColumn, 700,
                  {{LeagueColumn, 900}, {TimeColumn, 1000}, {TeamColumn, 1400}, {HandicapColumn, 1200}}, log);
}

GridData newMatchListGrid() {
    GridData grid(MatchListColumns);
    formatMatchListGrid(grid);
    return grid;
}

GridData newSimilarListGrid() {
    GridData grid(SimilarListColumns);
    formatSimilarListGrid(grid);
    return grid;
}

} // namespace chenglan
