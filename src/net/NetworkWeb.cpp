#include "net/NetworkWeb.h"

#include "net/QtWeb.h"

namespace chenglan {

std::unique_ptr<PoliteWeb> politeNetworkWeb(std::shared_ptr<HostSchedule> schedule) {
    auto client = std::make_unique<QtWeb>();
    const auto bound = client->limits().deadline;
    auto polite = std::make_unique<PoliteWeb>(std::move(client), std::move(schedule));
    polite->setTimeBound(bound);
    return polite;
}

} // namespace chenglan
