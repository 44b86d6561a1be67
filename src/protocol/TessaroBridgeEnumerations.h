#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace varnello {

// The enumerations of the wire messages. Their wire values are case-sensitive
// strings; an unknown wire value is never mapped to a case.

enum class TessaroBridgePeerRole { bridge, tessaro };

enum class TessaroBridgeCapability { midi, osc, agentAPI };

// Every capability, in declaration order.
inline constexpr std::array<TessaroBridgeCapability, 3> allTessaroBridgeCapabilities{
    TessaroBridgeCapability::midi, TessaroBridgeCapability::osc, TessaroBridgeCapability::agentAPI};

enum class TessaroBridgeAckStatus { accepted, duplicate, rejected };

enum class TessaroBridgeAgentOperation { devices, capabilities, library, performance, execute };

enum class TessaroBridgeAgentResponseStatus { accepted, rejected, unavailable, timeout };

std::string_view wireValue(TessaroBridgePeerRole value) noexcept;
std::string_view wireValue(TessaroBridgeCapability value) noexcept;
std::string_view wireValue(TessaroBridgeAckStatus value) noexcept;
std::string_view wireValue(TessaroBridgeAgentOperation value) noexcept;
std::string_view wireValue(TessaroBridgeAgentResponseStatus value) noexcept;

// The case whose wire value is exactly `text`; nullopt for any other text.
template <typename Enumeration>
std::optional<Enumeration> fromWireValue(std::string_view text) noexcept;

template <> std::optional<TessaroBridgePeerRole> fromWireValue(std::string_view text) noexcept;
template <> std::optional<TessaroBridgeCapability> fromWireValue(std::string_view text) noexcept;
template <> std::optional<TessaroBridgeAckStatus> fromWireValue(std::string_view text) noexcept;
template <>
std::optional<TessaroBridgeAgentOperation> fromWireValue(std::string_view text) noexcept;
template <>
std::optional<TessaroBridgeAgentResponseStatus> fromWireValue(std::string_view text) noexcept;

} // namespace varnello
