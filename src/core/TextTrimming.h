#pragma once

#include <string>
#include <string_view>

namespace varnello {

// Text helpers for names read from the system or typed by the user. Thread-safe.

// The text without White_Space scalars at either end. Bytes that are not
// well-formed UTF-8 count as non-white-space and are kept.
std::string_view trimmingWhiteSpace(std::string_view text) noexcept;

// The text as well-formed UTF-8: every ill-formed sequence becomes U+FFFD.
std::string replacingIllFormedUTF8(std::string_view text);

} // namespace varnello
