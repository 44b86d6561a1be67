#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace varnello {

// A 128-bit identifier. Its text is the canonical 36-character hyphenated form
// with upper-case digits; parsing accepts either case and nothing else.
// Thread-safe (a plain value).
class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    constexpr Uuid() noexcept = default;
    constexpr explicit Uuid(const Bytes& bytes) noexcept : bytes_(bytes) {}

    // A random (version 4) identifier.
    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text) noexcept;

    const Bytes& bytes() const noexcept { return bytes_; }
    std::string text() const;

    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    Bytes bytes_{};
};

} // namespace varnello

template <> struct std::hash<varnello::Uuid> {
    std::size_t operator()(const varnello::Uuid& uuid) const noexcept;
};
