#include "JackMIDIReader.h"
#include "MIDITestSequences.h"
#include "outputs/JackMIDISystem.h"
#include "outputs/MIDIBackendChoice.h"
#include "outputs/VirtualMIDISource.h"
#include "outputs/VirtualMIDISourceError.h"
#include "support/BoundedCommand.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/metadata.h>
#include <regex>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace varnello {
namespace {

using namespace std::chrono_literals;
using test::JackMIDIReader;
using test::MIDIMessage;

const MIDIMessage sentinel = {0x8F, 0x00, 0x00};
constexpr std::uint32_t uniqueIDForServerLossTest = 0x4C4F5353;

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
    // A second bridge on the same server gets JACK's numbered variant of the client name.
    EXPECT_TRUE(std::regex_match(*port, std::regex("Varnello Bridge(-[0-9]+)?:Varnello Bridge")))
        << *port;
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

// Points this process's JACK clients at the named server while it lives.
class DefaultJackServer {
public:
    explicit DefaultJackServer(const std::string& name) {
        if (const char* previous = std::getenv("JACK_DEFAULT_SERVER")) {
            previous_ = previous;
        }
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    }
    ~DefaultJackServer() {
        if (previous_) {
            ::setenv("JACK_DEFAULT_SERVER", previous_->c_str(), 1);
        } else {
            ::unsetenv("JACK_DEFAULT_SERVER");
        }
    }
    DefaultJackServer(const DefaultJackServer&) = delete;
    DefaultJackServer& operator=(const DefaultJackServer&) = delete;

private:
    std::optional<std::string> previous_;
};

TEST(JackMIDISourceServerLossTest, SendsFailOnceTheServerIsGone) {
    // A fixed name: JACK frees a name's place only when a server of that name starts
    // again or ends cleanly, so a name per run fills its table after a few kills.
    const std::string serverName = "varnello-server-loss-test";
    const DefaultJackServer server(serverName);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* arguments[] = {const_cast<char*>("jackd"),
                         const_cast<char*>("-n"),
                         const_cast<char*>(serverName.c_str()),
                         const_cast<char*>("-r"),
                         const_cast<char*>("-d"),
                         const_cast<char*>("dummy"),
                         const_cast<char*>("-r"),
                         const_cast<char*>("48000"),
                         const_cast<char*>("-p"),
                         const_cast<char*>("256"),
                         nullptr};
    pid_t jackd = -1;
    const int spawned = posix_spawnp(&jackd, "jackd", &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        if (std::getenv("VARNELLO_TEST_JACK") != nullptr) {
            FAIL() << "jackd could not be started";
        }
        GTEST_SKIP() << "no jackd here";
    }
    // Stopped by its pid however the test ends, and only once: a reaped pid may
    // belong to another process soon after.
    struct Server {
        pid_t pid;
        void stop() {
            testing::stopChild(pid, 10s);
            pid = -1;
        }
        ~Server() { stop(); }
    } jackServer{jackd};

    // The server takes a moment to answer; creation is the only way to ask.
    std::unique_ptr<VirtualMIDISource> source;
    for (int attempt = 0; attempt < 100 && !source; ++attempt) {
        try {
            source = std::make_unique<VirtualMIDISource>(makeMIDISystem(MIDIBackendChoice::jack),
                                                         uniqueIDForServerLossTest);
        } catch (const VirtualMIDISourceError&) {
            std::this_thread::sleep_for(100ms);
        }
    }
    const std::vector<std::uint8_t> noteOn = test::concatenated(test::noteOn());
    if (source) {
        source->send(noteOn);
    }
    jackServer.stop();
    ASSERT_TRUE(source) << "the test's own jackd never answered";

    std::optional<std::string> failure;
    for (int attempt = 0; attempt < 500 && !failure; ++attempt) {
        try {
            source->send(noteOn);
            std::this_thread::sleep_for(10ms);
        } catch (const VirtualMIDISourceError& error) {
            failure = error.message();
        }
    }
    EXPECT_EQ(failure, "CoreMIDI could not perform \u2018Send MIDI\u2019 (-3004).");
    // Destruction after the loss must neither hang nor touch the dead server.
    source.reset();
}

TEST(JackMIDISourceWithoutServerTest, CreationFailsWithJacksStatus) {
    // A server name nobody runs: the same answer as on a machine without JACK.
    const DefaultJackServer server("varnello-absent-" + std::to_string(getpid()));
    try {
        VirtualMIDISource source(makeMIDISystem(MIDIBackendChoice::jack), 1);
        ADD_FAILURE() << "creation succeeded";
    } catch (const VirtualMIDISourceError& error) {
        // JackFailure | JackServerFailed, negated.
        EXPECT_EQ(error.message(),
                  "CoreMIDI could not perform \u2018Create MIDI client\u2019 (-17).");
    }
}

} // namespace
} // namespace varnello
