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

namespace {

// Calls visit(piece, scalar) for each scalar of a UTF-8 text in order, where
// piece is its bytes and scalar is negative for an ill-formed sequence; stops
// when visit returns false.
template <typename Visit> void forEachScalar(std::string_view text, Visit visit) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t offset = 0;
    while (offset < length) {
        const std::int32_t start = offset;
        UChar32 scalar;
        U8_NEXT(bytes, offset, length, scalar);
        const auto piece =
            text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(offset - start));
        if (!visit(piece, scalar)) {
            return;
        }
    }
}

} // namespace

std::optional<std::u32string> utf8Scalars(std::string_view text) {
    std::u32string scalars;
    scalars.reserve(text.size());
    bool wellFormed = true;
    forEachScalar(text, [&](std::string_view, UChar32 scalar) {
        wellFormed = scalar >= 0;
        if (wellFormed) {
            scalars.push_back(static_cast<char32_t>(scalar));
        }
        return wellFormed;
    });
    if (!wellFormed) {
        return std::nullopt;
    }
    return scalars;
}

std::string removingControlScalars(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    forEachScalar(text, [&](std::string_view piece, UChar32 scalar) {
        if (scalar < 0 || !isControlScalar(static_cast<char32_t>(scalar))) {
            kept.append(piece);
        }
        return true;
    });
    return kept;
}

std::string_view trimmingWhiteSpace(std::string_view text) noexcept {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t start = 0;
    while (start < length) {
        std::int32_t next = start;
        UChar32 scalar;
        U8_NEXT(bytes, next, length, scalar);
        if (scalar < 0 || !isWhiteSpaceScalar(static_cast<char32_t>(scalar))) {
            break;
        }
        start = next;
    }
    std::int32_t end = length;
    while (end > start) {
        std::int32_t previous = end;
        UChar32 scalar;
        U8_PREV(bytes, start, previous, scalar);
        if (scalar < 0 || !isWhiteSpaceScalar(static_cast<char32_t>(scalar))) {
            break;
        }
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

std::string replacingIllFormedUTF8(std::string_view text) {
    static constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";
    std::string result;
    result.reserve(text.size());
    forEachScalar(text, [&](std::string_view piece, UChar32 scalar) {
        result.append(scalar < 0 ? replacementCharacter : piece);
        return true;
    });
    return result;
}

} // namespace varnello
