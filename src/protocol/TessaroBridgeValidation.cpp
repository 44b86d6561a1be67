#include "protocol/TessaroBridgeValidation.h"

#include "protocol/TessaroBridgeConstants.h"
#include "protocol/TessaroBridgeWireError.h"
#include "support/PrefixCharacters.h"
#include "support/UnicodeScalars.h"

namespace varnello {
namespace {

// Empty, a control character, ill-formed UTF-8 and an over-long text all fail
// the same way; the length goes first so that a huge text is never scanned.
bool isValidPeerText(std::string_view text) {
    if (text.empty() || text.size() > maximumPeerTextBytes) {
        return false;
    }
    const auto scalars = utf8Scalars(text);
    if (!scalars) {
        return false;
    }
    for (const char32_t scalar : *scalars) {
        if (isControlScalar(scalar)) {
            return false;
        }
    }
    return true;
}

} // namespace

void validateHello(std::int64_t protocolVersion, std::string_view peerID,
                   std::string_view displayName,
                   const std::set<TessaroBridgeCapability>& capabilities) {
    if (protocolVersion != supportedProtocolVersion) {
        throw TessaroBridgeWireError::invalidProtocolVersion(protocolVersion);
    }
    if (!isValidPeerText(peerID)) {
        throw TessaroBridgeWireError::invalidIdentity();
    }
    if (!isValidPeerText(displayName)) {
        throw TessaroBridgeWireError::invalidDisplayName();
    }
    if (capabilities.empty()) {
        throw TessaroBridgeWireError::emptyCapabilities();
    }
}

void validateMIDIBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        throw TessaroBridgeWireError::emptyMIDIMessage();
    }
    if (bytes.size() > maximumMIDIBytes) {
        throw TessaroBridgeWireError::midiMessageTooLong(
            static_cast<std::int64_t>(maximumMIDIBytes), static_cast<std::int64_t>(bytes.size()));
    }
    std::size_t position = 0;
    while (position < bytes.size()) {
        const std::uint8_t status = bytes[position];
        if (status < 0x80 || status > 0xEF) {
            throw TessaroBridgeWireError::invalidMIDIStatus();
        }
        // Program change and channel pressure carry one data byte, the others two.
        const std::size_t length = (status & 0xE0) == 0xC0 ? 2 : 3;
        const std::size_t remaining = bytes.size() - position;
        if (remaining < length) {
            throw TessaroBridgeWireError::invalidMIDILength(static_cast<std::int64_t>(length),
                                                            static_cast<std::int64_t>(remaining));
        }
        for (std::size_t index = position + 1; index < position + length; ++index) {
            if (bytes[index] > 0x7F) {
                throw TessaroBridgeWireError::invalidMIDIDataByte();
            }
        }
        position += length;
    }
}

void validateOSCAddress(std::string_view address) {
    if (address.size() > maximumOSCAddressBytes) {
        throw TessaroBridgeWireError::oscAddressTooLong();
    }
    // Characters cannot be told apart in ill-formed UTF-8.
    const auto scalars = utf8Scalars(address);
    if (!scalars) {
        throw TessaroBridgeWireError::invalidOSCAddress();
    }
    // Compared by character: "/" followed by a combining mark is not "/".
    if (prefixCharacters(address, 1) != "/" || characterCount(address, 2) < 2) {
        throw TessaroBridgeWireError::invalidOSCAddress();
    }
    for (const char32_t scalar : *scalars) {
        if (scalar == 0 || isWhiteSpaceScalar(scalar) || isControlScalar(scalar)) {
            throw TessaroBridgeWireError::invalidOSCAddress();
        }
    }
}

} // namespace varnello
