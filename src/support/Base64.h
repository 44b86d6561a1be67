#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnello {

// Standard base64 (RFC 4648, section 4) with "=" padding and no line breaks. Thread-safe.
std::string base64Encode(std::span<const std::uint8_t> bytes);

// Accepts only the canonical encoding: the standard alphabet, a length that is a
// multiple of 4, padding only at the end, and zero bits where padding leaves
// bits unused. Anything else is nullopt.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

} // namespace varnello
