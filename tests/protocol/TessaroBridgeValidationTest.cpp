#include "protocol/TessaroBridgeValidation.h"

#include "ProtocolTestSupport.h"

#include <gtest/gtest.h>
#include <sstream>

namespace varnello {
namespace {

using namespace varnello::testing;
using Capabilities = std::set<TessaroBridgeCapability>;

const std::string identityError = "The Bridge identity is invalid.";
const std::string nameError = "The Bridge name is invalid.";
const std::string emptyCapabilitiesError = "The Bridge must offer at least one output capability.";
const std::string eAcute = "\xC3\xA9"; // é, two UTF-8 bytes
const std::string combiningAcute = "\xCC\x81";

struct HelloCase {
    std::string name;
    std::int64_t version;
    std::string peerID;
    std::string displayName;
    Capabilities capabilities;
    std::string outcome;
};

TEST(ValidateHello, TestsInOrderAndReportsTheFirstFailure) {
    const Capabilities midi{TessaroBridgeCapability::midi};
    const HelloCase cases[] = {
        {"valid", 1, "ipad-stage-left", "Stage Left iPad", midi, std::string(ok)},
        {"version 0", 0, "ipad", "iPad", midi, "Unsupported Varnello Bridge protocol version 0."},
        {"version 2", 2, "ipad", "iPad", midi, "Unsupported Varnello Bridge protocol version 2."},
        {"negative version", -1, "ipad", "iPad", midi,
         "Unsupported Varnello Bridge protocol version -1."},
        {"version before identity",
         2,
         "",
         "",
         {},
         "Unsupported Varnello Bridge protocol version 2."},
        {"identity before name and capabilities", 1, "", "", {}, identityError},
        {"name before capabilities", 1, "ipad", "", {}, nameError},
        {"capabilities", 1, "ipad", "iPad", {}, emptyCapabilitiesError},
        {"agentAPI alone is enough",
         1,
         "ipad",
         "iPad",
         {TessaroBridgeCapability::agentAPI},
         std::string(ok)},
        {"peerID of 255 bytes", 1, std::string(255, 'a'), "iPad", midi, std::string(ok)},
        {"peerID of 256 bytes", 1, std::string(256, 'a'), "iPad", midi, identityError},
        {"peerID of 128 two-byte characters", 1, repeated(eAcute, 128), "iPad", midi,
         identityError},
        {"peerID of 127 two-byte characters and one byte", 1, repeated(eAcute, 127) + "a", "iPad",
         midi, std::string(ok)},
        {"peerID with NUL", 1, std::string("ip\0ad", 5), "iPad", midi, identityError},
        {"peerID with DEL", 1,
         "ip\x7F"
         "ad",
         "iPad", midi, identityError},
        {"peerID with NEL (C1 control)", 1,
         "ip\xC2\x85"
         "ad",
         "iPad", midi, identityError},
        {"peerID with soft hyphen (Cf)", 1,
         "ip\xC2\xAD"
         "ad",
         "iPad", midi, identityError},
        {"peerID with zero-width space (Cf)", 1,
         "ip\xE2\x80\x8B"
         "ad",
         "iPad", midi, identityError},
        {"peerID with byte order mark (Cf)", 1, "\xEF\xBB\xBFipad", "iPad", midi, identityError},
        {"peerID not UTF-8", 1,
         "ip\xFF"
         "ad",
         "iPad", midi, identityError},
        {"peerID with truncated sequence", 1, "ipad\xC3", "iPad", midi, identityError},
        {"peerID with encoded surrogate", 1, "\xED\xA0\x80", "iPad", midi, identityError},
        {"peerID with spaces kept", 1, "  ipad  ", "iPad", midi, std::string(ok)},
        {"peerID with no-break space", 1, "ipad\xC2\xA0one", "iPad", midi, std::string(ok)},
        {"displayName with tab", 1, "ipad", "Stage\tLeft", midi, nameError},
        {"displayName with line feed", 1, "ipad", "Stage\nLeft", midi, nameError},
        {"displayName with leading spaces", 1, "ipad", "   Stage", midi, std::string(ok)},
        {"displayName of 256 bytes", 1, "ipad", std::string(256, 'n'), midi, nameError},
        {"displayName not UTF-8", 1, "ipad", "\x80", midi, nameError},
        {"displayName with emoji", 1, "ipad", "Stage \xF0\x9F\x8E\xB9", midi, std::string(ok)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            outcomeOf([&] { validateHello(c.version, c.peerID, c.displayName, c.capabilities); }),
            c.outcome)
            << c.name;
    }
}

std::vector<std::uint8_t> hexBytes(std::string_view hex) {
    std::vector<std::uint8_t> bytes;
    std::istringstream stream{std::string(hex)};
    unsigned value = 0;
    while (stream >> std::hex >> value) {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

TEST(ValidateMIDIBytes, AcceptsOnlyCompleteChannelVoiceMessages) {
    struct Case {
        std::string hex;
        std::string outcome;
    };
    const Case cases[] = {
        {"90 3C 64", std::string(ok)},
        {"90 3C 64 C0 05", std::string(ok)},
        {"80 00 00 A0 7F 7F B0 07 40 C0 00 D0 7F E0 00 40", std::string(ok)},
        {"8F 01 02 9F 03 04 AF 05 06 BF 07 08 CF 09 DF 0A EF 7F 7F", std::string(ok)},
        {"", "The MIDI message is empty."},
        {"90 3C 64 3C 00", "The MIDI status byte must be between 80 and EF."},
        {"F8", "The MIDI status byte must be between 80 and EF."},
        {"F0 7E 7F F7", "The MIDI status byte must be between 80 and EF."},
        {"FF", "The MIDI status byte must be between 80 and EF."},
        {"7F 00 00", "The MIDI status byte must be between 80 and EF."},
        {"00", "The MIDI status byte must be between 80 and EF."},
        {"90 3C", "The MIDI message requires 3 bytes, but contains 2."},
        {"90 3C 64 C0", "The MIDI message requires 2 bytes, but contains 1."},
        {"90 3C 64 E0 00", "The MIDI message requires 3 bytes, but contains 2."},
        {"90", "The MIDI message requires 3 bytes, but contains 1."},
        {"90 80", "The MIDI message requires 3 bytes, but contains 2."},
        {"90 80 64", "MIDI data bytes must be between 00 and 7F."},
        {"B0 07 80", "MIDI data bytes must be between 00 and 7F."},
        {"C0 80", "MIDI data bytes must be between 00 and 7F."},
        {"D0 FF", "MIDI data bytes must be between 00 and 7F."},
    };
    for (const auto& c : cases) {
        const auto bytes = hexBytes(c.hex);
        EXPECT_EQ(outcomeOf([&] { validateMIDIBytes(bytes); }), c.outcome) << c.hex;
    }
}

TEST(ValidateMIDIBytes, LimitsTheLengthBeforeLookingAtAnyByte) {
    std::vector<std::uint8_t> longest;
    for (int index = 0; index < 128; ++index) {
        longest.insert(longest.end(), {0xC0, 0x05});
    }
    EXPECT_EQ(outcomeOf([&] { validateMIDIBytes(longest); }), ok);

    const std::vector<std::uint8_t> invalidAndTooLong(257, 0xF8);
    EXPECT_EQ(outcomeOf([&] { validateMIDIBytes(invalidAndTooLong); }),
              "The MIDI sequence allows at most 256 bytes, but contains 257.");
    try {
        validateMIDIBytes(invalidAndTooLong);
        FAIL() << "257 bytes passed";
    } catch (const TessaroBridgeWireError& error) {
        EXPECT_EQ(error, TessaroBridgeWireError::midiMessageTooLong(256, 257));
    }
}

TEST(ValidateOSCAddress, TestsLengthThenFirstCharacterThenEveryScalar) {
    const std::string invalid = "The OSC address is invalid.";
    const std::string tooLong = "The OSC address is too long.";
    struct Case {
        std::string name;
        std::string address;
        std::string outcome;
    };
    const Case cases[] = {
        {"shortest", "/a", std::string(ok)},
        {"cue", "/cue/12/go", std::string(ok)},
        {"pattern characters", "/cue/*/?[a-z]{x,y}", std::string(ok)},
        {"comma and hash", "/a,b#c", std::string(ok)},
        {"repeated slashes", "//", std::string(ok)},
        {"non-ASCII letters", "/caf" + eAcute + "/\xE6\x97\xA5", std::string(ok)},
        {"empty", "", invalid},
        {"slash alone", "/", invalid},
        {"no leading slash", "a/b", invalid},
        {"slash with combining mark", "/" + combiningAcute, invalid},
        {"slash with combining mark and more", "/" + combiningAcute + "abc", invalid},
        {"second character is a combining mark on a letter", "/a" + combiningAcute,
         std::string(ok)},
        {"space", "/cue 1", invalid},
        {"tab", "/cue\t1", invalid},
        {"no-break space",
         "/cue\xC2\xA0"
         "1",
         invalid},
        {"line separator",
         "/cue\xE2\x80\xA8"
         "1",
         invalid},
        {"ideographic space",
         "/cue\xE3\x80\x80"
         "1",
         invalid},
        {"NUL", std::string("/cue\0", 5), invalid},
        {"DEL", "/cue\x7F", invalid},
        {"zero-width space", "/cue\xE2\x80\x8B", invalid},
        {"byte order mark",
         "/\xEF\xBB\xBF"
         "cue",
         invalid},
        {"not UTF-8", "/cue\xFF", invalid},
        {"truncated sequence", "/cue\xE2\x80", invalid},
        {"1024 bytes", "/" + std::string(1023, 'a'), std::string(ok)},
        {"1025 bytes", "/" + std::string(1024, 'a'), tooLong},
        {"1025 bytes without slash", std::string(1025, 'a'), tooLong},
        {"1025 bytes with a space", "/ " + std::string(1023, 'a'), tooLong},
        {"1024 bytes of two-byte characters", "/" + repeated(eAcute, 511) + "a", std::string(ok)},
        {"1026 bytes of two-byte characters", "/" + repeated(eAcute, 512) + "a", tooLong},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcomeOf([&] { validateOSCAddress(c.address); }), c.outcome) << c.name;
    }
}

} // namespace
} // namespace varnello
