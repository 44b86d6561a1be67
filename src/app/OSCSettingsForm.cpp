#include "app/OSCSettingsForm.h"

#include "support/UnicodeScalars.h"

#include <limits>

namespace varnello {

namespace {

// The byte length of the UTF-8 sequence that starts with this byte, 0 when it
// cannot start one.
std::size_t sequenceLength(unsigned char lead) noexcept {
    if (lead < 0x80) {
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        return 4;
    }
    return 0;
}

// How many leading bytes of the text are white-space scalars.
std::size_t leadingWhiteSpace(std::string_view text) {
    std::size_t offset = 0;
    while (offset < text.size()) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(text[offset]));
        if (length == 0 || offset + length > text.size()) {
            break;
        }
        const auto scalars = utf8Scalars(text.substr(offset, length));
        if (!scalars || scalars->size() != 1 || !isWhiteSpaceScalar(scalars->front())) {
            break;
        }
        offset += length;
    }
    return offset;
}

} // namespace

std::int64_t leadingInteger(std::string_view text) noexcept {
    std::size_t offset = 0;
    try {
        offset = leadingWhiteSpace(text);
    } catch (...) {
        return 0;
    }
    bool negative = false;
    if (offset < text.size() && (text[offset] == '+' || text[offset] == '-')) {
        negative = text[offset] == '-';
        ++offset;
    }
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    bool clamped = false;
    for (; offset < text.size() && text[offset] >= '0' && text[offset] <= '9'; ++offset) {
        const int digit = text[offset] - '0';
        if (clamped || value > (limit - digit) / 10) {
            clamped = true;
            continue;
        }
        value = value * 10 + digit;
    }
    if (clamped) {
        return negative ? std::numeric_limits<std::int64_t>::min() : limit;
    }
    return negative ? -value : value;
}

OSCSettingsForm OSCSettingsForm::filledFrom(const OSCForwardingConfiguration& configuration) {
    return OSCSettingsForm{configuration.host, std::to_string(configuration.port)};
}

std::optional<BridgePreferencesError> OSCSettingsForm::save(BridgePreferences& preferences) const {
    try {
        preferences.saveOSCDestination(hostText, leadingInteger(portText));
    } catch (const BridgePreferencesError& error) {
        return error;
    }
    return std::nullopt;
}

} // namespace varnello
