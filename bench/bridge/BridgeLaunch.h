#pragma once

#include "app/BridgeProcess.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace varnello::bench {

// The bridge program to measure, headless, with its data and configuration in the
// given folders (XDG_DATA_HOME, XDG_CONFIG_HOME).
struct BridgeLaunch {
    std::string binary;
    std::filesystem::path dataHome;
    std::filesystem::path configHome;

    // Throws BridgeLoadError(spawn).
    std::unique_ptr<testing::BridgeProcess> start() const;
    // Where the bridge keeps its command ledger under dataHome.
    std::filesystem::path ledgerFile() const {
        return dataHome / "TessaroBridge" / "command-ledger.json";
    }
};

// The iPad port from the ready line "Server status: Beschikbaar via wifi (TCP …)",
// waiting at most 10 seconds. Throws BridgeLoadError(notReady), after copying the
// bridge's log to standard error.
std::uint16_t awaitReady(testing::BridgeProcess& bridge);

// SIGTERM, then its exit, which must be 0. Throws BridgeLoadError(stop, exitStatus).
void stopBridge(testing::BridgeProcess& bridge);

} // namespace varnello::bench
