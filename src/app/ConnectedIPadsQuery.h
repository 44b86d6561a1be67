#pragma once

#include "protocol/TessaroBridgeAgentDevice.h"

#include <chrono>
#include <optional>
#include <vector>

namespace varnello {

// The iPads connected to the bridge running on this computer, in the order they
// connected, as its Agent API answers a `devices` request on 127.0.0.1. Nothing when
// no bridge answers within `limit` or the answer is not a device list. Blocking;
// any thread.
std::optional<std::vector<TessaroBridgeAgentDevice>>
queryConnectedIPads(std::chrono::milliseconds limit);

} // namespace varnello
