#include "core/MIDIUniqueID.h"

#include "support/PrefixCharacters.h"

#include <string>

namespace varnello {

namespace {

int hexDigitValue(char digit) noexcept {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

} // namespace

std::uint32_t midiUniqueID(std::string_view identityID) {
    // Counted in characters, so that a digit carrying a combining mark is not
    // taken for a plain digit.
    const std::string digits = prefixCharacters(identityID, 8);
    if (digits.empty()) {
        return fallbackMIDIUniqueID;
    }
    std::uint32_t value = 0;
    for (const char digit : digits) {
        const int digitValue = hexDigitValue(digit);
        if (digitValue < 0) {
            return fallbackMIDIUniqueID;
        }
        value = value * 16 + static_cast<std::uint32_t>(digitValue);
    }
    return value == 0 ? fallbackMIDIUniqueID : value;
}

} // namespace varnello
