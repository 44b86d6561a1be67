#include "protocol/TessaroBridgeWireError.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

using Code = TessaroBridgeWireError::Code;

struct MessageCase {
    TessaroBridgeWireError error;
    Code code;
    std::string message;
};

TEST(TessaroBridgeWireError, EveryCaseHasItsFixedMessage) {
    const MessageCase cases[] = {
        {TessaroBridgeWireError::invalidProtocolVersion(2), Code::invalidProtocolVersion,
         "Unsupported Varnello Bridge protocol version 2."},
        {TessaroBridgeWireError::invalidProtocolVersion(-7), Code::invalidProtocolVersion,
         "Unsupported Varnello Bridge protocol version -7."},
        {TessaroBridgeWireError::invalidProtocolVersion(9223372036854775807),
         Code::invalidProtocolVersion,
         "Unsupported Varnello Bridge protocol version 9223372036854775807."},
        {TessaroBridgeWireError::invalidIdentity(), Code::invalidIdentity,
         "The Bridge identity is invalid."},
        {TessaroBridgeWireError::invalidDisplayName(), Code::invalidDisplayName,
         "The Bridge name is invalid."},
        {TessaroBridgeWireError::emptyCapabilities(), Code::emptyCapabilities,
         "The Bridge must offer at least one output capability."},
        {TessaroBridgeWireError::emptyMIDIMessage(), Code::emptyMIDIMessage,
         "The MIDI message is empty."},
        {TessaroBridgeWireError::invalidMIDIStatus(), Code::invalidMIDIStatus,
         "The MIDI status byte must be between 80 and EF."},
        {TessaroBridgeWireError::invalidMIDILength(3, 2), Code::invalidMIDILength,
         "The MIDI message requires 3 bytes, but contains 2."},
        {TessaroBridgeWireError::invalidMIDIDataByte(), Code::invalidMIDIDataByte,
         "MIDI data bytes must be between 00 and 7F."},
        {TessaroBridgeWireError::midiMessageTooLong(256, 1000), Code::midiMessageTooLong,
         "The MIDI sequence allows at most 256 bytes, but contains 1000."},
        {TessaroBridgeWireError::invalidOSCAddress(), Code::invalidOSCAddress,
         "The OSC address is invalid."},
        {TessaroBridgeWireError::oscAddressTooLong(), Code::oscAddressTooLong,
         "The OSC address is too long."},
        {TessaroBridgeWireError::frameTooLarge(4294967295u), Code::frameTooLarge,
         "The Bridge frame of 4294967295 bytes is too large."},
        {TessaroBridgeWireError::frameTooLarge(65537), Code::frameTooLarge,
         "The Bridge frame of 65537 bytes is too large."},
        {TessaroBridgeWireError::malformedFrame(), Code::malformedFrame,
         "The Bridge frame is invalid."},
        {TessaroBridgeWireError::agentPayloadTooLarge(47104, 47105), Code::agentPayloadTooLarge,
         "The AgentAPI payload allows at most 47104 bytes, but contains 47105."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.code(), c.code) << c.message;
        EXPECT_EQ(c.error.message(), c.message);
        EXPECT_STREQ(c.error.what(), c.message.c_str());
    }
}

TEST(TessaroBridgeWireError, KeepsItsAssociatedValues) {
    const auto length = TessaroBridgeWireError::invalidMIDILength(2, 1);
    EXPECT_EQ(length.expected(), 2);
    EXPECT_EQ(length.actual(), 1);
    const auto tooLong = TessaroBridgeWireError::midiMessageTooLong(256, 300);
    EXPECT_EQ(tooLong.maximum(), 256);
    EXPECT_EQ(tooLong.actual(), 300);
    EXPECT_EQ(TessaroBridgeWireError::frameTooLarge(70000).size(), 70000u);
    EXPECT_EQ(TessaroBridgeWireError::invalidProtocolVersion(5).version(), 5);
}

TEST(TessaroBridgeWireError, EqualityComparesCaseAndValues) {
    struct Case {
        TessaroBridgeWireError a;
        TessaroBridgeWireError b;
        bool equal;
    };
    const Case cases[] = {
        {TessaroBridgeWireError::invalidIdentity(), TessaroBridgeWireError::invalidIdentity(),
         true},
        {TessaroBridgeWireError::invalidIdentity(), TessaroBridgeWireError::invalidDisplayName(),
         false},
        {TessaroBridgeWireError::invalidProtocolVersion(2),
         TessaroBridgeWireError::invalidProtocolVersion(2), true},
        {TessaroBridgeWireError::invalidProtocolVersion(2),
         TessaroBridgeWireError::invalidProtocolVersion(3), false},
        {TessaroBridgeWireError::invalidMIDILength(3, 2),
         TessaroBridgeWireError::invalidMIDILength(3, 1), false},
        {TessaroBridgeWireError::invalidMIDILength(3, 2),
         TessaroBridgeWireError::invalidMIDILength(2, 2), false},
        {TessaroBridgeWireError::midiMessageTooLong(256, 257),
         TessaroBridgeWireError::agentPayloadTooLarge(256, 257), false},
        {TessaroBridgeWireError::frameTooLarge(65537), TessaroBridgeWireError::frameTooLarge(65537),
         true},
        {TessaroBridgeWireError::frameTooLarge(65537), TessaroBridgeWireError::frameTooLarge(65538),
         false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.a.message() << " vs " << c.b.message();
    }
}

} // namespace
} // namespace varnello
