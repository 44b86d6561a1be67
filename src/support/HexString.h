#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace varnello {

// Each byte as two lower-case hexadecimal digits, no separator. Thread-safe.
std::string hexString(std::span<const std::uint8_t> bytes);

} // namespace varnello
