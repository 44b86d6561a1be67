#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varnello {

// Unicode scalar tests used by the wire checks. Thread-safe.

// General category Cc or Cf.
bool isControlScalar(char32_t scalar) noexcept;

// The White_Space property.
bool isWhiteSpaceScalar(char32_t scalar) noexcept;

// The scalars of a UTF-8 text; nullopt when it is not well-formed UTF-8.
std::optional<std::u32string> utf8Scalars(std::string_view text);

// Removes every scalar of general category Cc or Cf. The text must be valid UTF-8.
std::string removingControlScalars(std::string_view text);

// The text without White_Space scalars at either end. Bytes that are not
// well-formed UTF-8 count as non-white-space and are kept.
std::string_view trimmingWhiteSpace(std::string_view text) noexcept;

// The text as well-formed UTF-8: every ill-formed sequence becomes U+FFFD.
std::string replacingIllFormedUTF8(std::string_view text);

} // namespace varnello
