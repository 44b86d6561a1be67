#pragma once

#include "core/BridgeIdentity.h"
#include "ledger/LedgerFill.h"
#include "outputs/OSCForwardingConfiguration.h"
#include "server/BridgeServerState.h"

#include <cstdint>
#include <optional>
#include <string>

namespace varnello {

// Everything the user interface shows about the running bridge, taken at one
// moment. A plain value, equal field by field. Thread-safe.
struct BridgeRuntimeSnapshot {
    BridgeIdentity identity;
    BridgeServerState serverState;
    std::int64_t connectedClientCount = 0;
    OSCForwardingConfiguration oscConfiguration;
    // Why the server could not start; absent when it did.
    std::optional<std::string> startupError;
    // How close the ledger is to refusing every new command.
    LedgerFill ledgerFill;

    friend bool operator==(const BridgeRuntimeSnapshot&, const BridgeRuntimeSnapshot&) = default;
};

} // namespace varnello
