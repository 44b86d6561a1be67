#include "support/UnicodeScalars.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace varnello {

bool isControlScalar(char32_t scalar) noexcept {
    const auto type = u_charType(static_cast<UChar32>(scalar));
    return type == U_CONTROL_CHAR || type == U_FORMAT_CHAR;
}

bool isWhiteSpaceScalar(char32_t scalar) noexcept {
    return u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_WHITE_SPACE) != 0;
}

std::optional<std::u32string> utf8Scalars(std::string_view text) {
    std::u32string scalars;
    scalars.reserve(text.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t offset = 0;
    while (offset < length) {
        UChar32 scalar;
        U8_NEXT(bytes, offset, length, scalar);
        if (scalar < 0) {
            return std::nullopt;
        }
        scalars.push_back(static_cast<char32_t>(scalar));
    }
    return scalars;
}

std::string removingControlScalars(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t offset = 0;
    while (offset < length) {
        const std::int32_t start = offset;
        UChar32 scalar;
        U8_NEXT(bytes, offset, length, scalar);
        if (scalar >= 0 && isControlScalar(static_cast<char32_t>(scalar))) {
            continue;
        }
        kept.append(
            text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(offset - start)));
    }
    return kept;
}

} // namespace varnello
