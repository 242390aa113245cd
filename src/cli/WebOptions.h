#pragma once

#include "net/Web.h"

#include <QStringList>

#include <functional>
#include <memory>

namespace chenglan::cli {

// Removes "--record DIR" and "--replay DIR" from args and sets factory to
// where the command's pages come from: the network, spaced politely per host
// (one schedule for the whole process), or with --replay DIR the recording
// in DIR and no network. With --record DIR every exchange is also stored in
// DIR, which must be new or empty. On a bad value prints why to stderr and
// returns false.
bool takeWebOptions(QStringList &args, WebFactory &factory);

// The line of usage the options add to a command's own.
inline constexpr char kWebOptionsUsage[] = "[--record DIR | --replay DIR]";

} // namespace chenglan::cli
