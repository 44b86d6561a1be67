#pragma once

#include <cstdint>
#include <string_view>

namespace varnello::testing {

// How the bridge's log line begins once iPads can connect; the port and ")" follow.
inline constexpr std::string_view readyLineStart = "Server status: Beschikbaar via wifi (TCP ";

// The iPad port of the first ready line in `log`, or 0 when it has none.
std::uint16_t readyPort(std::string_view log);

} // namespace varnello::testing
