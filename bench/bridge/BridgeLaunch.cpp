#include "BridgeLaunch.h"

#include "BridgeLoadError.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>
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

namespace {

// The port of a ready line, or 0.
unsigned portOf(const std::optional<std::string>& line, std::string_view marker) {
    const auto at = line ? line->find(marker) : std::string::npos;
    if (at == std::string::npos) {
        return 0;
    }
    const std::string_view rest = std::string_view(*line).substr(at + marker.size());
    unsigned port = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), port);
    const bool closed = end != rest.data() + rest.size() && *end == ')';
    return error == std::errc{} && closed && port <= 65535 ? port : 0;
}

} // namespace

std::uint16_t awaitReady(testing::BridgeProcess& bridge) {
    static constexpr std::string_view marker = "Beschikbaar via wifi (TCP ";
    const unsigned port = portOf(bridge.awaitLine(std::string(marker), 10s), marker);
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
