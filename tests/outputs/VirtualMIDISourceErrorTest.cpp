#include "outputs/VirtualMIDISourceError.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

TEST(VirtualMIDISourceErrorTest, DescriptionsAreFixedTexts) {
    const struct {
        VirtualMIDISourceError error;
        const char* text;
    } cases[] = {
        {VirtualMIDISourceError::coreMIDI("Send MIDI", -50),
         "CoreMIDI could not perform \u2018Send MIDI\u2019 (-50)."},
        {VirtualMIDISourceError::coreMIDI("Create MIDI client", -2),
         "CoreMIDI could not perform \u2018Create MIDI client\u2019 (-2)."},
        {VirtualMIDISourceError::coreMIDI("Create virtual MIDI source", 7),
         "CoreMIDI could not perform \u2018Create virtual MIDI source\u2019 (7)."},
        {VirtualMIDISourceError::coreMIDI("Send MIDI", INT32_MIN),
         "CoreMIDI could not perform \u2018Send MIDI\u2019 (-2147483648)."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.message(), c.text);
        EXPECT_STREQ(c.error.what(), c.text);
        EXPECT_EQ(c.error.code(), VirtualMIDISourceError::Code::coreMIDI);
    }
}

TEST(VirtualMIDISourceErrorTest, EqualityComparesOperationAndStatus) {
    const auto error = VirtualMIDISourceError::coreMIDI("Send MIDI", -50);
    EXPECT_EQ(error, VirtualMIDISourceError::coreMIDI("Send MIDI", -50));
    EXPECT_NE(error, VirtualMIDISourceError::coreMIDI("Send MIDI", -51));
    EXPECT_NE(error, VirtualMIDISourceError::coreMIDI("Create MIDI client", -50));
}

} // namespace
} // namespace varnello
