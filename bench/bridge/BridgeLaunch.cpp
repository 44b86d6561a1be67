#include "BridgeLaunch.h"

#include "BridgeLoadError.h"
#include "app/ReadyLine.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace varnello::bench {

using namespace std::chrono_literals;

std::unique_ptr<testing::BridgeProcess> BridgeLaunch::start() const {
    try {
        return std::make_unique<testing::BridgeProcess>(
            binary, std::vector<std::string>{"--headless"},
            std::map<std::string, std::string>{{"XDG_DATA_HOME", dataHome.string()},
                                               {"XDG_CONFIG_HOME", configHome.string()}});
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "bridge_load_report: %s: %s\n", binary.c_str(), error.what());
        throw BridgeLoadError(BridgeLoadError::Code::spawn);
    }
}

std::uint16_t awaitReady(testing::BridgeProcess& bridge) {
    const auto line = bridge.awaitLine(std::string(testing::readyLineStart), 10s);
    const std::uint16_t port = line ? testing::readyPort(*line) : 0;
    if (port == 0) {
        std::fputs(bridge.errorOutput().c_str(), stderr);
        throw BridgeLoadError(BridgeLoadError::Code::notReady);
    }
    return static_cast<std::uint16_t>(port);
}

void stopBridge(testing::BridgeProcess& bridge) {
    const auto status = bridge.terminate(10s);
    if (!status) {
        throw BridgeLoadError(BridgeLoadError::Code::stop);
    }
    if (*status != 0) {
        std::fprintf(stderr, "bridge_load_report: exit status %d; its log:\n%s", *status,
                     bridge.errorOutput().c_str());
        throw BridgeLoadError(BridgeLoadError::Code::exitStatus);
    }
}

} // namespace varnello::bench
