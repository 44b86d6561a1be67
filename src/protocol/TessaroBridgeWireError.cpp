#include "protocol/TessaroBridgeWireError.h"

namespace varnello {

using Code = TessaroBridgeWireError::Code;

TessaroBridgeWireError& TessaroBridgeWireError::described() {
    switch (code_) {
    case Code::invalidProtocolVersion:
        message_ = "Unsupported Varnello Bridge protocol version " + std::to_string(version_) + ".";
        break;
    case Code::invalidIdentity:
        message_ = "The Bridge identity is invalid.";
        break;
    case Code::invalidDisplayName:
        message_ = "The Bridge name is invalid.";
        break;
    case Code::emptyCapabilities:
        message_ = "The Bridge must offer at least one output capability.";
        break;
    case Code::emptyMIDIMessage:
        message_ = "The MIDI message is empty.";
        break;
    case Code::invalidMIDIStatus:
        message_ = "The MIDI status byte must be between 80 and EF.";
        break;
    case Code::invalidMIDILength:
        message_ = "The MIDI message requires " + std::to_string(expected_) +
                   " bytes, but contains " + std::to_string(actual_) + ".";
        break;
    case Code::invalidMIDIDataByte:
        message_ = "MIDI data bytes must be between 00 and 7F.";
        break;
    case Code::midiMessageTooLong:
        message_ = "The MIDI sequence allows at most " + std::to_string(maximum_) +
                   " bytes, but contains " + std::to_string(actual_) + ".";
        break;
    case Code::invalidOSCAddress:
        message_ = "The OSC address is invalid.";
        break;
    case Code::oscAddressTooLong:
        message_ = "The OSC address is too long.";
        break;
    case Code::frameTooLarge:
        message_ = "The Bridge frame of " + std::to_string(size_) + " bytes is too large.";
        break;
    case Code::malformedFrame:
        message_ = "The Bridge frame is invalid.";
        break;
    case Code::agentPayloadTooLarge:
        message_ = "The AgentAPI payload allows at most " + std::to_string(maximum_) +
                   " bytes, but contains " + std::to_string(actual_) + ".";
        break;
    }
    return *this;
}

TessaroBridgeWireError TessaroBridgeWireError::invalidProtocolVersion(std::int64_t version) {
    TessaroBridgeWireError error(Code::invalidProtocolVersion);
    error.version_ = version;
    return error.described();
}

TessaroBridgeWireError TessaroBridgeWireError::invalidIdentity() {
    return TessaroBridgeWireError(Code::invalidIdentity).described();
}

TessaroBridgeWireError TessaroBridgeWireError::invalidDisplayName() {
    return TessaroBridgeWireError(Code::invalidDisplayName).described();
}

TessaroBridgeWireError TessaroBridgeWireError::emptyCapabilities() {
    return TessaroBridgeWireError(Code::emptyCapabilities).described();
}

TessaroBridgeWireError TessaroBridgeWireError::emptyMIDIMessage() {
    return TessaroBridgeWireError(Code::emptyMIDIMessage).described();
}

TessaroBridgeWireError TessaroBridgeWireError::invalidMIDIStatus() {
    return TessaroBridgeWireError(Code::invalidMIDIStatus).described();
}

TessaroBridgeWireError TessaroBridgeWireError::invalidMIDILength(std::int64_t expected,
                                                                 std::int64_t actual) {
    TessaroBridgeWireError error(Code::invalidMIDILength);
    error.expected_ = expected;
    error.actual_ = actual;
    return error.described();
}

TessaroBridgeWireError TessaroBridgeWireError::invalidMIDIDataByte() {
    return TessaroBridgeWireError(Code::invalidMIDIDataByte).described();
}

TessaroBridgeWireError TessaroBridgeWireError::midiMessageTooLong(std::int64_t maximum,
                                                                  std::int64_t actual) {
    TessaroBridgeWireError error(Code::midiMessageTooLong);
    error.maximum_ = maximum;
    error.actual_ = actual;
    return error.described();
}

TessaroBridgeWireError TessaroBridgeWireError::invalidOSCAddress() {
    return TessaroBridgeWireError(Code::invalidOSCAddress).described();
}

TessaroBridgeWireError TessaroBridgeWireError::oscAddressTooLong() {
    return TessaroBridgeWireError(Code::oscAddressTooLong).described();
}

TessaroBridgeWireError TessaroBridgeWireError::frameTooLarge(std::uint64_t size) {
    TessaroBridgeWireError error(Code::frameTooLarge);
    error.size_ = size;
    return error.described();
}

TessaroBridgeWireError TessaroBridgeWireError::malformedFrame() {
    return TessaroBridgeWireError(Code::malformedFrame).described();
}

TessaroBridgeWireError TessaroBridgeWireError::agentPayloadTooLarge(std::int64_t maximum,
                                                                    std::int64_t actual) {
    TessaroBridgeWireError error(Code::agentPayloadTooLarge);
    error.maximum_ = maximum;
    error.actual_ = actual;
    return error.described();
}

} // namespace varnello
