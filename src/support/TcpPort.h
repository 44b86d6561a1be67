#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace varnello {

// A TCP port written as a plain decimal number from 1 to 65535 (leading zeros
// allowed; no sign, space, fraction or exponent). nullopt for anything else, so
// that a value that is not a port is never read as some other port. Thread-safe.
std::optional<std::uint16_t> parseTcpPort(std::string_view decimal) noexcept;

} // namespace varnello
