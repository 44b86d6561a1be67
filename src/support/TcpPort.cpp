#include "support/TcpPort.h"

#include <algorithm>
#include <charconv>

namespace varnello {

std::optional<std::uint16_t> parseTcpPort(std::string_view decimal) noexcept {
    const bool digitsOnly =
        std::all_of(decimal.begin(), decimal.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (decimal.empty() || !digitsOnly) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    const auto [end, error] =
        std::from_chars(decimal.data(), decimal.data() + decimal.size(), value);
    if (error != std::errc{} || end != decimal.data() + decimal.size() || value < 1 ||
        value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace varnello
