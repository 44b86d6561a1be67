#include "JackMIDIReader.h"
#include "MIDITestSequences.h"
#include "outputs/JackMIDISystem.h"
#include "outputs/MIDIBackendChoice.h"
#include "outputs/VirtualMIDISource.h"
#include "outputs/VirtualMIDISourceError.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/metadata.h>
#include <unistd.h>

namespace varnello {
namespace {

using namespace std::chrono_literals;
using test::JackMIDIReader;
using test::MIDIMessage;

const MIDIMessage sentinel = {0x8F, 0x00, 0x00};

class JackMIDISourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        reader = JackMIDIReader::open();
        if (!reader) {
            if (std::getenv("VARNELLO_TEST_JACK") != nullptr) {
                FAIL() << "VARNELLO_TEST_JACK is set, but no JACK server answers";
            }
            GTEST_SKIP() << "no JACK server answers";
        }
    }

    // A value no other program on the server uses, so the port is found even
    // when another "Varnello Bridge" client runs beside this test.
    static std::uint32_t uniqueIDForThisProcess() {
        return 0x56420000U | (static_cast<std::uint32_t>(getpid()) & 0xFFFFU);
    }

    std::optional<std::string> property(const std::string& portName, const char* key,
                                        std::string* type = nullptr) const {
        jack_port_t* port = jack_port_by_name(reader->client(), portName.c_str());
        if (port == nullptr) {
            return std::nullopt;
        }
        char* value = nullptr;
        char* valueType = nullptr;
        if (jack_get_property(jack_port_uuid(port), key, &value, &valueType) != 0) {
            return std::nullopt;
        }
        std::string text = value;
        if (type != nullptr) {
            *type = valueType != nullptr ? valueType : "";
        }
        jack_free(value);
        if (valueType != nullptr) {
            jack_free(valueType);
        }
        return text;
    }

    // The MIDI output port named "Varnello Bridge" that carries this unique ID.
    std::optional<std::string> bridgePort(std::uint32_t uniqueID) const {
        const char** ports = jack_get_ports(reader->client(), "Varnello Bridge$",
                                            JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
        std::optional<std::string> found;
        for (const char** name = ports; name != nullptr && *name != nullptr; ++name) {
            if (property(*name, JackMIDISystem::uniqueIDKey) ==
                std::to_string(static_cast<std::int32_t>(uniqueID))) {
                found = *name;
            }
        }
        jack_free(ports);
        return found;
    }

    // Connects the reader and waits until a message has made the whole way.
    void connectAndWaitForDelivery(VirtualMIDISource& source, const std::string& port) {
        ASSERT_TRUE(reader->connectFrom(port));
        for (int attempt = 0; attempt < 50; ++attempt) {
            source.send(sentinel);
            if (!reader->take(1, 100ms).empty()) {
                return;
            }
        }
        FAIL() << "nothing arrived through " << port;
    }

    // The events after the sentinels of the connection check.
    // Stops early when nothing has come for a second: on a loaded machine a
    // cycle may come late, but not that late.
    std::vector<MIDIMessage> takeAfterSentinels(std::size_t count) {
        std::vector<MIDIMessage> events = reader->take(count, 10s, 1s);
        while (!events.empty() && events.front() == sentinel) {
            events.erase(events.begin());
            const auto more = reader->take(1, 50ms);
            events.insert(events.end(), more.begin(), more.end());
        }
        return events;
    }

    std::unique_ptr<JackMIDIReader> reader;
};

TEST_F(JackMIDISourceTest, SequencesArriveAsTheirChannelMessagesInOrder) {
    const std::uint32_t uniqueID = uniqueIDForThisProcess();
    VirtualMIDISource source(makeMIDISystem(MIDIBackendChoice::jack), uniqueID);
    const auto port = bridgePort(uniqueID);
    ASSERT_TRUE(port) << "no port carries the unique ID";
    EXPECT_EQ(port->substr(0, 16), "Varnello Bridge:");
    connectAndWaitForDelivery(source, *port);

    std::vector<MIDIMessage> expected;
    for (const auto& sequence :
         {test::noteOn(), test::programChangeThenControlChange(), test::longestSequence()}) {
        source.send(test::concatenated(sequence));
        expected.insert(expected.end(), sequence.begin(), sequence.end());
    }
    EXPECT_EQ(takeAfterSentinels(expected.size()), expected);
}

TEST_F(JackMIDISourceTest, BurstLargerThanOneCycleArrivesWholeAndInOrder) {
    const std::uint32_t uniqueID = uniqueIDForThisProcess();
    VirtualMIDISource source(makeMIDISystem(MIDIBackendChoice::jack), uniqueID);
    const auto port = bridgePort(uniqueID);
    ASSERT_TRUE(port);
    connectAndWaitForDelivery(source, *port);
    const std::size_t portBufferBytes =
        jack_port_type_get_buffer_size(reader->client(), JACK_DEFAULT_MIDI_TYPE);

    // A cycle the server loses (an xrun on a loaded machine) loses its MIDI for
    // every JACK program; only a burst that met none can tell what the bridge did.
    // A server without real-time scheduling on a busy machine loses many.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int xrunsBefore = reader->xruns();
        // 60 longest sequences: 5160 events, more than one cycle's port buffer holds.
        std::vector<MIDIMessage> expected;
        for (int round = 0; round < 60; ++round) {
            auto messages = test::longestSequence();
            messages[0][1] = static_cast<std::uint8_t>(round & 0x7F); // tells rounds apart
            source.send(test::concatenated(messages));
            expected.insert(expected.end(), messages.begin(), messages.end());
        }
        // Every event takes its time and size besides its bytes.
        ASSERT_GT(expected.size() * 8, portBufferBytes) << "the burst fits one cycle";
        const auto events = takeAfterSentinels(expected.size());
        if (reader->xruns() != xrunsBefore) {
            reader->take(SIZE_MAX, 200ms);
            continue;
        }
        const auto firstDifference =
            std::mismatch(events.begin(), events.end(), expected.begin(), expected.end());
        EXPECT_EQ(events.size(), expected.size());
        EXPECT_EQ(firstDifference.first, events.end())
            << "first difference at event " << (firstDifference.first - events.begin());
        return;
    }
    GTEST_SKIP() << "the JACK server lost cycles during every attempt";
}

TEST_F(JackMIDISourceTest, PropertiesBecomePortMetadata) {
    const std::uint32_t uniqueID = 0xDEAD0000U | (uniqueIDForThisProcess() & 0xFFFFU);
    const VirtualMIDISource source(makeMIDISystem(MIDIBackendChoice::jack), uniqueID);
    const auto port = bridgePort(uniqueID);
    ASSERT_TRUE(port);

    EXPECT_EQ(property(*port, JackMIDISystem::manufacturerKey), "QV");
    EXPECT_EQ(property(*port, JackMIDISystem::modelKey), "Varnello Bridge");
    std::string type;
    EXPECT_EQ(property(*port, JackMIDISystem::uniqueIDKey, &type),
              std::to_string(static_cast<std::int32_t>(uniqueID)));
    EXPECT_EQ(type, "http://www.w3.org/2001/XMLSchema#int");
}

TEST_F(JackMIDISourceTest, DestructionRemovesThePort) {
    const std::uint32_t uniqueID = uniqueIDForThisProcess();
    auto source =
        std::make_unique<VirtualMIDISource>(makeMIDISystem(MIDIBackendChoice::jack), uniqueID);
    const auto port = bridgePort(uniqueID);
    ASSERT_TRUE(port);

    source.reset();
    EXPECT_EQ(jack_port_by_name(reader->client(), port->c_str()), nullptr);
}

TEST_F(JackMIDISourceTest, AutomaticChoiceTakesJackWhenTheSequencerCannotOpen) {
    const int sequencer = ::open("/dev/snd/seq", O_WRONLY | O_CLOEXEC);
    if (sequencer >= 0) {
        ::close(sequencer);
        GTEST_SKIP() << "an ALSA sequencer is present here";
    }
    const std::uint32_t uniqueID = uniqueIDForThisProcess();
    const VirtualMIDISource source(makeMIDISystem(MIDIBackendChoice::automatic), uniqueID);
    EXPECT_TRUE(bridgePort(uniqueID));
}

TEST(JackMIDISourceWithoutServerTest, CreationFailsWithJacksStatus) {
    // A server name nobody runs: the same answer as on a machine without JACK.
    const char* previous = std::getenv("JACK_DEFAULT_SERVER");
    const std::string saved = previous != nullptr ? previous : "";
    ::setenv("JACK_DEFAULT_SERVER", ("varnello-absent-" + std::to_string(getpid())).c_str(), 1);
    try {
        VirtualMIDISource source(makeMIDISystem(MIDIBackendChoice::jack), 1);
        ADD_FAILURE() << "creation succeeded";
    } catch (const VirtualMIDISourceError& error) {
        // JackFailure | JackServerFailed, negated.
        EXPECT_EQ(error.message(),
                  "CoreMIDI could not perform \u2018Create MIDI client\u2019 (-17).");
    }
    if (previous != nullptr) {
        ::setenv("JACK_DEFAULT_SERVER", saved.c_str(), 1);
    } else {
        ::unsetenv("JACK_DEFAULT_SERVER");
    }
}

} // namespace
} // namespace varnello
