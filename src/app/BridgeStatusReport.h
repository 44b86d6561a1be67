#pragma once

#include "app/TrayMenuModel.h"
#include "core/BridgeRuntimeSnapshot.h"
#include "outputs/MIDIBackendChoice.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace varnello {

// What `varnello-bridge status` reports of a running bridge, taken from its snapshot
// (or from its start-up error), as one JSON object: the form the bridge hands out
// over the session bus and `status --json` prints. Thread-safe (pure functions).
nlohmann::json bridgeStatusReport(const std::optional<BridgeRuntimeSnapshot>& snapshot,
                                  const std::optional<std::string>& launchError,
                                  MIDIBackendChoice midi);

// The same as plain lines, in the order the menu shows them. Throws
// nlohmann::json::exception for an object of another shape.
std::string bridgeStatusLines(const nlohmann::json& report);

} // namespace varnello
