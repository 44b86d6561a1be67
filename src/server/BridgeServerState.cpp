#include "server/BridgeServerState.h"

namespace varnello {

BridgeServerState BridgeServerState::ready(std::uint16_t port) noexcept {
    return BridgeServerState(Case::ready, port, {});
}

BridgeServerState BridgeServerState::waiting(std::string text) {
    return BridgeServerState(Case::waiting, 0, std::move(text));
}

BridgeServerState BridgeServerState::failed(std::string text) {
    return BridgeServerState(Case::failed, 0, std::move(text));
}

BridgeServerState BridgeServerState::stopped() noexcept {
    return BridgeServerState(Case::stopped, 0, {});
}

BridgeServerState BridgeServerState::starting() noexcept {
    return BridgeServerState(Case::starting, 0, {});
}

std::string BridgeServerState::statusText() const {
    switch (case_) {
    case Case::ready:
        return "Beschikbaar via wifi (TCP " + std::to_string(port_) + ")";
    case Case::waiting:
        return "Waiting for network: " + text_;
    case Case::failed:
        return "Network error: " + text_;
    case Case::stopped:
        return "Stopped";
    case Case::starting:
        return "Starten\u2026";
    }
    return {};
}

} // namespace varnello
