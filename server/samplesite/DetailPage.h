#pragma once

#include "World.h"

#include <QByteArray>

namespace chenglan::sample {

// The bookmaker whose handicap history the site publishes.
constexpr int kHandicapCompany = 3;

// The handicap change history of one match and bookmaker (gb2312): every
// change published by `now`, newest first. Other bookmakers have no data.
QByteArray handicapDetailPage(const World &world, const Match &match, int company, Minutes now);

} // namespace chenglan::sample
