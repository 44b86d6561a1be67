#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnello {

// Characters here are user-perceived characters (extended grapheme clusters,
// ICU's character break iterator); a cluster is never split. The text must be
// valid UTF-8. Thread-safe.

// The first n characters of text (all of it when it has fewer).
std::string prefixCharacters(std::string_view text, std::size_t n);

// The number of characters of text, counting at most `limit`.
std::size_t characterCount(std::string_view text, std::size_t limit = SIZE_MAX);

} // namespace varnello
