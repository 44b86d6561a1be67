#include "AlsaSequencerReader.h"
#include "MIDITestSequences.h"
#include "outputs/MIDIBackendChoice.h"
#include "outputs/VirtualMIDISource.h"
#include "outputs/VirtualMIDISourceError.h"
#include "support/BoundedCommand.h"
#include "support/ManualExecutor.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <unistd.h>

// One binary for both sides of the ALSA backend: with a sequencer (inside the
// alsa-vm tool, or on a desktop) it checks what arrives; without one it checks
// the failure.

namespace varnello {
namespace {

using test::AlsaSequencerReader;
using test::MIDIMessage;

constexpr std::uint32_t uniqueID = 0x54564231;

bool sequencerPresent() {
    return ::access("/dev/snd/seq", F_OK) == 0;
}

class AlsaMIDISourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sequencerPresent()) {
            GTEST_SKIP() << "no ALSA sequencer here; run inside alsa-vm";
        }
        reader = AlsaSequencerReader::open();
        ASSERT_TRUE(reader) << "the sequencer is present but does not open";
    }

    std::vector<AlsaSequencerReader::Port> bridgePorts() const {
        return reader->findPorts("Varnello Bridge", "Varnello Bridge");
    }

    std::unique_ptr<AlsaSequencerReader> reader;
};

TEST_F(AlsaMIDISourceTest, SequencesArriveAsEventsInOrder) {
    VirtualMIDISource source(makeMIDISystem(MIDIBackendChoice::alsa), uniqueID);
    const auto ports = bridgePorts();
    ASSERT_EQ(ports.size(), 1U) << "one client and port named \"Varnello Bridge\"";
    const unsigned int readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    const unsigned int type = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;
    EXPECT_EQ(ports[0].capability & readable, readable);
    EXPECT_EQ(ports[0].type & type, type);
    ASSERT_TRUE(reader->subscribeTo(ports[0].address));

    std::vector<MIDIMessage> expected;
    for (const auto& sequence :
         {test::noteOn(), test::programChangeThenControlChange(), test::longestSequence()}) {
        source.send(test::concatenated(sequence));
        expected.insert(expected.end(), sequence.begin(), sequence.end());
    }
    EXPECT_EQ(reader->take(expected.size(), 5000), expected);
    EXPECT_TRUE(reader->take(1, 100).empty()) << "more events than messages";
}

TEST_F(AlsaMIDISourceTest, AnotherProgramListsThePortAsReadable) {
    const VirtualMIDISource source(makeMIDISystem(MIDIBackendChoice::alsa), uniqueID);

    const auto listing = testing::runBounded({"aconnect", "-i"}, std::chrono::seconds(20));
    const std::string& text = listing.output;
    ASSERT_EQ(listing.status, 0) << text;
    // "client 128: 'Varnello Bridge' [type=user,...]" then "    0 'Varnello Bridge  '".
    const std::regex client(R"(client [0-9]+: 'Varnello Bridge' \[type=user)");
    const std::regex port(R"(\n +[0-9]+ 'Varnello Bridge *')");
    EXPECT_TRUE(std::regex_search(text, client)) << text;
    EXPECT_TRUE(std::regex_search(text, port)) << text;
}

TEST_F(AlsaMIDISourceTest, AutomaticChoiceTakesTheSequencer) {
    VirtualMIDISource source(makeMIDISystem(MIDIBackendChoice::automatic), uniqueID);
    const auto ports = bridgePorts();
    ASSERT_EQ(ports.size(), 1U);
    ASSERT_TRUE(reader->subscribeTo(ports[0].address));
    source.send(test::concatenated(test::noteOn()));
    EXPECT_EQ(reader->take(1, 5000), test::noteOn());
}

TEST_F(AlsaMIDISourceTest, DestructionLeavesNoClient) {
    auto source =
        std::make_unique<VirtualMIDISource>(makeMIDISystem(MIDIBackendChoice::alsa), uniqueID);
    ASSERT_EQ(bridgePorts().size(), 1U);
    source.reset();
    EXPECT_TRUE(bridgePorts().empty());
}

// This process's descriptors open on the sequencer device.
std::set<int> sequencerDescriptors() {
    std::set<int> descriptors;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(folder)) {
            char target[PATH_MAX] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            if (::readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                std::string(target) == "/dev/snd/seq") {
                descriptors.insert(std::atoi(entry->d_name));
            }
        }
        ::closedir(folder);
    }
    return descriptors;
}

TEST_F(AlsaMIDISourceTest, BrokenClientIsReopenedWithTheSameNamesAndCapabilities) {
    const std::set<int> before = sequencerDescriptors();
    VirtualMIDISource source(makeMIDISystem(MIDIBackendChoice::alsa), uniqueID);
    ManualExecutor queue;
    std::vector<MIDIConnectionState> changes;
    source.reopenOn(
        queue, [&changes](MIDIConnectionState state, MIDIStatus) { changes.push_back(state); });
    queue.runDue();
    std::vector<int> sources;
    const std::set<int> after = sequencerDescriptors();
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(sources));
    ASSERT_EQ(sources.size(), 1U) << "one sequencer handle for the source";
    ASSERT_EQ(bridgePorts().size(), 1U);

    // The client's handle on the sequencer breaks under it: the kernel client
    // goes, and the descriptor that stood for it takes no writes any more.
    const int readOnly = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::dup2(readOnly, sources[0]), sources[0]);
    ::close(readOnly);
    try {
        source.send(test::concatenated(test::noteOn()));
        FAIL() << "the send went through a broken client";
    } catch (const VirtualMIDISourceError& error) {
        EXPECT_EQ(error.operation(), "Send MIDI");
        EXPECT_EQ(error.status(), -EBADF);
    }
    EXPECT_EQ(source.state(), MIDIConnectionState::lost);
    EXPECT_TRUE(bridgePorts().empty());

    queue.advance(std::chrono::milliseconds(1000));
    EXPECT_EQ(source.state(), MIDIConnectionState::connected);
    EXPECT_EQ(changes, (std::vector<MIDIConnectionState>{MIDIConnectionState::lost,
                                                         MIDIConnectionState::connected}));
    const auto ports = bridgePorts();
    ASSERT_EQ(ports.size(), 1U) << "the same client and port names again";
    const unsigned int readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    const unsigned int type = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;
    EXPECT_EQ(ports[0].capability & readable, readable);
    EXPECT_EQ(ports[0].type & type, type);
    ASSERT_TRUE(reader->subscribeTo(ports[0].address));
    source.send(test::concatenated(test::noteOn()));
    EXPECT_EQ(reader->take(1, 5000), test::noteOn());
    EXPECT_TRUE(reader->take(1, 100).empty()) << "the refused note came after all";
}

std::size_t openDescriptorCount() {
    std::size_t count = 0;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (::readdir(folder) != nullptr) {
            ++count;
        }
        ::closedir(folder);
    }
    return count;
}

TEST(AlsaMIDISourceWithoutSequencerTest, CreationFailsWithAlsasStatusAndLeavesNothing) {
    if (sequencerPresent()) {
        GTEST_SKIP() << "a sequencer is present: the failure path needs a machine without one";
    }
    const std::size_t descriptorsBefore = openDescriptorCount();
    try {
        VirtualMIDISource source(makeMIDISystem(MIDIBackendChoice::alsa), uniqueID);
        FAIL() << "creation succeeded without a sequencer";
    } catch (const VirtualMIDISourceError& error) {
        EXPECT_EQ(error.operation(), "Create MIDI client");
        EXPECT_EQ(error.status(), -ENOENT);
        EXPECT_EQ(error.message(),
                  "CoreMIDI could not perform \u2018Create MIDI client\u2019 (-2).");
    }
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "a sequencer handle was left open";
}

} // namespace
} // namespace varnello
