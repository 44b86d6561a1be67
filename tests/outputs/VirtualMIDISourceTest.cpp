#include "outputs/VirtualMIDISource.h"

#include "FakeMIDISystem.h"
#include "MIDITestSequences.h"
#include "outputs/VirtualMIDISourceError.h"
#include "protocol/TessaroBridgeWireError.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace varnello {
namespace {

using test::FakeMIDIState;
using test::FakeMIDISystem;

class VirtualMIDISourceTest : public ::testing::Test {
protected:
    std::unique_ptr<FakeMIDISystem> system() { return std::make_unique<FakeMIDISystem>(state); }

    std::shared_ptr<FakeMIDIState> state = std::make_shared<FakeMIDIState>();
};

TEST_F(VirtualMIDISourceTest, PublishesNamedSourceWithItsPropertiesInOrder) {
    const VirtualMIDISource source(system(), 0x54564231);

    EXPECT_EQ(source.client(), 100U);
    EXPECT_EQ(source.endpoint(), 101U);
    const std::vector<std::string> expected = {
        "createClient Varnello Bridge",
        "createSource 100 Varnello Bridge",
        "set manufacturer 101",
        "set model 101",
        "set uniqueID 101",
    };
    EXPECT_EQ(state->calls, expected);
    EXPECT_EQ(state->properties["manufacturer"], "QV");
    EXPECT_EQ(state->properties["model"], "Varnello Bridge");
}

TEST_F(VirtualMIDISourceTest, UniqueIDKeepsTheBitPatternOfTheUnsignedValue) {
    const struct {
        std::uint32_t uniqueID;
        const char* property;
    } cases[] = {
        {0x54564231, "1414939185"}, // "TVB1"
        {0xDEADBEEF, "-559038737"}, {0xFFFFFFFF, "-1"}, {0x80000000, "-2147483648"}, {1, "1"},
    };
    for (const auto& c : cases) {
        state->properties.clear();
        const VirtualMIDISource source(system(), c.uniqueID);
        EXPECT_EQ(state->properties["uniqueID"], c.property) << c.uniqueID;
    }
}

TEST_F(VirtualMIDISourceTest, RefusedPropertiesLeaveTheSourcePublished) {
    state->propertyStatus = -50;
    VirtualMIDISource source(system(), 7);

    EXPECT_EQ(state->liveEndpoints.size(), 1U);
    source.send(std::vector<std::uint8_t>{0x90, 0x3C, 0x64});
    EXPECT_EQ(state->packets.size(), 1U);
}

TEST_F(VirtualMIDISourceTest, ClientFailureIsReportedWithItsStatus) {
    state->createClientStatus = -2;
    try {
        VirtualMIDISource source(system(), 7);
        FAIL() << "creation succeeded";
    } catch (const VirtualMIDISourceError& error) {
        EXPECT_EQ(error, VirtualMIDISourceError::coreMIDI("Create MIDI client", -2));
        EXPECT_STREQ(error.what(),
                     "CoreMIDI could not perform \u2018Create MIDI client\u2019 (-2).");
    }
    EXPECT_EQ(state->calls, std::vector<std::string>{"createClient Varnello Bridge"});
    EXPECT_TRUE(state->liveClients.empty());
}

TEST_F(VirtualMIDISourceTest, SourceFailureDisposesTheClient) {
    state->createSourceStatus = -10844;
    try {
        VirtualMIDISource source(system(), 7);
        FAIL() << "creation succeeded";
    } catch (const VirtualMIDISourceError& error) {
        EXPECT_EQ(error.message(),
                  "CoreMIDI could not perform \u2018Create virtual MIDI source\u2019 (-10844).");
    }
    EXPECT_TRUE(state->liveClients.empty());
    EXPECT_TRUE(state->liveEndpoints.empty());
    EXPECT_EQ(state->calls.back(), "disposeClient 100");
}

TEST_F(VirtualMIDISourceTest, EachSequenceIsOnePacketStampedWithTheHostTime) {
    VirtualMIDISource source(system(), 7);
    const std::vector<std::vector<std::uint8_t>> sequences = {
        test::concatenated(test::noteOn()),
        test::concatenated(test::programChangeThenControlChange()),
        test::concatenated(test::longestSequence()),
    };
    ASSERT_EQ(sequences[2].size(), 256U);

    std::vector<FakeMIDIState::Packet> expected;
    for (std::size_t i = 0; i < sequences.size(); ++i) {
        state->hostTime = 1000 + i;
        source.send(sequences[i]);
        expected.push_back({101, 1000 + i, sequences[i]});
    }
    EXPECT_EQ(state->packets, expected);
}

TEST_F(VirtualMIDISourceTest, EmissionFailureIsReportedAndTheSourceStaysUsable) {
    VirtualMIDISource source(system(), 7);
    const std::vector<std::uint8_t> noteOn = {0x90, 0x3C, 0x64};

    state->emitStatus = -50;
    try {
        source.send(noteOn);
        FAIL() << "send succeeded";
    } catch (const VirtualMIDISourceError& error) {
        EXPECT_EQ(error.message(), "CoreMIDI could not perform \u2018Send MIDI\u2019 (-50).");
        EXPECT_EQ(error.operation(), "Send MIDI");
        EXPECT_EQ(error.status(), -50);
    }

    state->emitStatus = 0;
    source.send(noteOn);
    ASSERT_EQ(state->packets.size(), 1U);
    EXPECT_EQ(state->packets[0].bytes, noteOn);
}

TEST_F(VirtualMIDISourceTest, InvalidSequencesNeverReachTheMIDISystem) {
    VirtualMIDISource source(system(), 7);
    const std::vector<std::vector<std::uint8_t>> invalid = {
        {},
        {0x3C, 0x64},       // no status byte
        {0x90, 0x3C},       // note-on cut short
        {0xC0, 0x05, 0x06}, // data byte after a whole message
        {0xF8},             // system real-time
        {0x90, 0x3C, 0x80}, // data byte with the high bit set
    };
    std::vector<std::uint8_t> tooLong = test::concatenated(test::longestSequence());
    tooLong.insert(tooLong.end(), {0xC0, 0x01});

    for (const auto& bytes : invalid) {
        EXPECT_THROW(source.send(bytes), TessaroBridgeWireError) << bytes.size();
    }
    EXPECT_THROW(source.send(tooLong), TessaroBridgeWireError);
    EXPECT_TRUE(state->packets.empty());
    EXPECT_EQ(std::count(state->calls.begin(), state->calls.end(), "emit 101"), 0);
}

TEST_F(VirtualMIDISourceTest, DestructionDisposesTheSourceThenTheClient) {
    {
        const VirtualMIDISource source(system(), 7);
        state->calls.clear();
    }
    const std::vector<std::string> expected = {"disposeEndpoint 101", "disposeClient 100"};
    EXPECT_EQ(state->calls, expected);
    EXPECT_TRUE(state->liveClients.empty());
    EXPECT_TRUE(state->liveEndpoints.empty());
}

} // namespace
} // namespace varnello
