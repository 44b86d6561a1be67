#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace varnello {

// Mapping between an enumeration and its wire values, listed in case order.
// Used inside the protocol layer only.

template <std::size_t N, typename Enumeration>
std::string_view wireValueIn(const std::array<std::string_view, N>& values,
                             Enumeration value) noexcept {
    return values[static_cast<std::size_t>(value)];
}

template <typename Enumeration, std::size_t N>
std::optional<Enumeration> caseIn(const std::array<std::string_view, N>& values,
                                  std::string_view text) noexcept {
    for (std::size_t index = 0; index < N; ++index) {
        if (values[index] == text) {
            return static_cast<Enumeration>(index);
        }
    }
    return std::nullopt;
}

} // namespace varnello
