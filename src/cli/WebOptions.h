#pragma once

#include "net/Web.h"

#include <QStringList>

#include <functional>
#include <memory>

namespace chenglan::cli {

// Removes "--record DIR", "--replay DIR", "--cache DIR" and "--no-cache"
// from args and sets factory to where the command's pages come from: the
// network, spaced politely per host (one schedule for the whole process),
// with the pages that cannot change kept in the page cache (the user's cache
// folder, or DIR; none with --no-cache), or with --replay DIR the recording
// in DIR and neither network nor cache. With --record DIR every exchange is
// also stored in DIR, which must be new or empty. On a bad value prints why
// to stderr and returns false.
bool takeWebOptions(QStringList &args, WebFactory &factory);

// The line of usage the options add to a command's own.
inline constexpr char kWebOptionsUsage[] = "[--record DIR | --replay DIR] [--cache DIR | --no-cache]";

} // namespace chenglan::cli
