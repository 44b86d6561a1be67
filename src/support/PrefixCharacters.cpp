#include "support/PrefixCharacters.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <unicode/brkiter.h>
#include <unicode/utext.h>

namespace varnello {
namespace {

// Creating a break iterator loads ICU data; one per thread is reused.
icu::BreakIterator& characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !created) {
            throw std::runtime_error("ICU character break iterator is not available");
        }
        return created;
    }();
    return *iterator;
}

// Byte offset after the first n characters, and how many were found.
std::pair<std::size_t, std::size_t> advance(std::string_view text, std::size_t n) {
    if (n == 0 || text.empty()) {
        return {0, 0};
    }
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) {
        throw std::runtime_error("ICU could not open the text");
    }
    auto& iterator = characterIterator();
    iterator.setText(utext, status);
    std::size_t count = 0;
    std::int32_t offset = 0;
    while (count < n) {
        const std::int32_t next = iterator.next();
        if (next == icu::BreakIterator::DONE) {
            break;
        }
        offset = next;
        ++count;
    }
    utext_close(utext);
    // Detach the iterator from the closed text.
    icu::UnicodeString empty;
    iterator.setText(empty);
    return {static_cast<std::size_t>(offset), count};
}

} // namespace

std::string prefixCharacters(std::string_view text, std::size_t n) {
    return std::string(text.substr(0, advance(text, n).first));
}

std::size_t characterCount(std::string_view text, std::size_t limit) {
    return advance(text, limit).second;
}

} // namespace varnello
