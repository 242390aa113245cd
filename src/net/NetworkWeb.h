#pragma once

#include "net/PoliteWeb.h"

#include <memory>

namespace chenglan {

// The Web the window and the command line fetch with: a QtWeb spaced per host
// by schedule (shared by every Web of one program), the wait for a turn
// bounded by the QtWeb's own deadline.
std::unique_ptr<PoliteWeb> politeNetworkWeb(std::shared_ptr<HostSchedule> schedule);

} // namespace chenglan
