#include "protocol/TessaroBridgeEnumerations.h"

#include "protocol/TessaroBridgeWireValues.h"

namespace varnello {
namespace {

constexpr std::array<std::string_view, 2> peerRoles{"bridge", "tessaro"};
constexpr std::array<std::string_view, 3> capabilities{"midi", "osc", "agentAPI"};
constexpr std::array<std::string_view, 3> ackStatuses{"accepted", "duplicate", "rejected"};
constexpr std::array<std::string_view, 5> agentOperations{"devices", "capabilities", "library",
                                                          "performance", "execute"};
constexpr std::array<std::string_view, 4> agentResponseStatuses{"accepted", "rejected",
                                                                "unavailable", "timeout"};

} // namespace

std::string_view wireValue(TessaroBridgePeerRole value) noexcept {
    return wireValueIn(peerRoles, value);
}
std::string_view wireValue(TessaroBridgeCapability value) noexcept {
    return wireValueIn(capabilities, value);
}
std::string_view wireValue(TessaroBridgeAckStatus value) noexcept {
    return wireValueIn(ackStatuses, value);
}
std::string_view wireValue(TessaroBridgeAgentOperation value) noexcept {
    return wireValueIn(agentOperations, value);
}
std::string_view wireValue(TessaroBridgeAgentResponseStatus value) noexcept {
    return wireValueIn(agentResponseStatuses, value);
}

template <> std::optional<TessaroBridgePeerRole> fromWireValue(std::string_view text) noexcept {
    return caseIn<TessaroBridgePeerRole>(peerRoles, text);
}
template <> std::optional<TessaroBridgeCapability> fromWireValue(std::string_view text) noexcept {
    return caseIn<TessaroBridgeCapability>(capabilities, text);
}
template <> std::optional<TessaroBridgeAckStatus> fromWireValue(std::string_view text) noexcept {
    return caseIn<TessaroBridgeAckStatus>(ackStatuses, text);
}
template <>
std::optional<TessaroBridgeAgentOperation> fromWireValue(std::string_view text) noexcept {
    return caseIn<TessaroBridgeAgentOperation>(agentOperations, text);
}
template <>
std::optional<TessaroBridgeAgentResponseStatus> fromWireValue(std::string_view text) noexcept {
    return caseIn<TessaroBridgeAgentResponseStatus>(agentResponseStatuses, text);
}

} // namespace varnello
