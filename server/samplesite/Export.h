#pragma once

#include "World.h"

#include <QByteArray>

namespace chenglan::sample {

// The world's finished matches as CSV (UTF-8, header line, "\r\n" line ends),
// oldest first, for the data service to import. Columns: see README.md.
QByteArray finishedMatchesCsv(const World &world, Minutes now);

} // namespace chenglan::sample
