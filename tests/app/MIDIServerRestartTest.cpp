// The real program on a JACK server of the test's own, which the test stops
// and starts again while the bridge runs (once after freezing it with a note
// in the bridge's queue, then killing it): commands during the outage are
// refused, MIDI comes back on the same port within a few seconds of the
// server's return, and a monitor on that port hears only what was sent after
// the return. Prints how long the recovery took after each restart.

#include "../outputs/JackMIDIReader.h"
#include "ChildProcess.h"
#include "RealBridge.h"
#include "outputs/JackMIDISystem.h"
#include "support/TemporaryFolder.h"
#include "support/Uuid.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <jack/metadata.h>
#include <signal.h>
#include <thread>
#include <unistd.h>

namespace varnello::endtoend {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::JackMIDIReader;
using MIDIEvents = std::vector<std::vector<std::uint8_t>>;

constexpr const char* bridgePort = "Varnello Bridge:Varnello Bridge";
constexpr const char* refused = "CoreMIDI could not perform \u2018Send MIDI\u2019 (-3004).";
constexpr int restarts = 3;
// A new connection carries MIDI from the server's next cycle on.
constexpr auto connectionTakesEffect = 100ms;

// jackd with the dummy driver, under a name of its own so that the session's
// shared server is never touched, and under a time limit. Signalled by its
// pid. Its cycles are long (43 ms), so that a monitor connected when the
// bridge's port appears hears the port's first cycle. JACK keeps room for
// eight servers' names and frees a name's place only when that name comes
// back or its server ends cleanly, so the name is fixed and every server but
// the one killed on purpose is ended with SIGTERM.
class TestJackServer {
public:
    explicit TestJackServer(std::filesystem::path log) : log_(std::move(log)) {}
    ~TestJackServer() {
        if (process_) {
            ::kill(jackd_, SIGCONT);
            end(SIGTERM);
        }
    }

    TestJackServer(const TestJackServer&) = delete;
    TestJackServer& operator=(const TestJackServer&) = delete;

    static constexpr const char* name = "varnello-midi-restart-test";

    // False when jackd could not be found running under its time limit.
    bool start() {
        process_ = std::make_unique<testing::ChildProcess>(
            std::vector<std::string>{"/usr/bin/timeout", "120", "/usr/bin/jackd", "-n", name, "-r",
                                     "-d", "dummy", "-r", "48000", "-p", "2048"},
            testing::ChildProcess::Environment{}, log_);
        // timeout's one child.
        const std::string children = "/proc/" + std::to_string(process_->pid()) + "/task/" +
                                     std::to_string(process_->pid()) + "/children";
        const auto deadline = Clock::now() + 5s;
        while (Clock::now() < deadline) {
            std::ifstream list(children);
            if (list >> jackd_) {
                return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    // SIGTERM; false when it has not ended within a few seconds (it is killed then).
    bool stop() { return end(SIGTERM); }
    // No more cycles: what a client queues stays queued.
    void freeze() { ::kill(jackd_, SIGSTOP); }
    // The server dies without a word, as in a crash.
    bool kill() { return end(SIGKILL); }

private:
    bool end(int signal) {
        ::kill(jackd_, signal);
        const bool ended = process_->waitForExit(5s).has_value();
        if (!ended) {
            ::kill(jackd_, SIGKILL);
            process_->waitForExit(5s);
        }
        process_.reset();
        return ended;
    }

    std::filesystem::path log_;
    std::unique_ptr<testing::ChildProcess> process_;
    pid_t jackd_ = -1;
};

int occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

std::string midiCommandJson(const std::string& id, int note) {
    return R"({"type":"command","body":{"id":")" + id +
           R"(","payload":{"type":"midi","bytes":[144,)" + std::to_string(note) + ",100]}}}";
}

class MIDIServerRestartTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VARNELLO_TEST_JACK") == nullptr) {
            GTEST_SKIP() << "needs jackd (scripts/with-test-services.sh)";
        }
        // This process's JACK clients, the monitor among them, go to the test's server.
        ::setenv("JACK_DEFAULT_SERVER", TestJackServer::name, 1);
        // The monitor asks for the server until it answers; each refusal is expected.
        jack_set_error_function(+[](const char*) {});
    }

    // The monitor, once the server answers; nothing after 10 s.
    std::unique_ptr<JackMIDIReader> awaitServer() {
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline) {
            if (auto reader = JackMIDIReader::open()) {
                return reader;
            }
            std::this_thread::sleep_for(20ms);
        }
        return nullptr;
    }

    // Connects the monitor the moment the bridge's port is there, before
    // anything is sent, so that whatever the new client plays is heard.
    bool connectWhenThePortAppears(JackMIDIReader& reader) {
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline) {
            // A port whose client is not active yet refuses connections.
            if (jack_port_by_name(reader.client(), bridgePort) != nullptr &&
                reader.connectFrom(bridgePort)) {
                return true;
            }
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    std::optional<std::string> portProperty(JackMIDIReader& reader, const char* key) {
        jack_port_t* port = jack_port_by_name(reader.client(), bridgePort);
        char* value = nullptr;
        char* type = nullptr;
        if (port == nullptr || jack_get_property(jack_port_uuid(port), key, &value, &type) != 0) {
            return std::nullopt;
        }
        std::string text = value;
        jack_free(value);
        if (type != nullptr) {
            jack_free(type);
        }
        return text;
    }

    // Status and detail of the answer to one MIDI command.
    std::pair<std::string, std::string> send(FramedConnection& iPad, int note,
                                             const std::string& id = Uuid::random().text()) {
        if (!iPad.send(midiCommandJson(id, note))) {
            return {"unsent", ""};
        }
        const auto answer = iPad.receive();
        if (!answer || (*answer)["body"].value("commandID", "") != id) {
            return {"unanswered", ""};
        }
        const auto& body = (*answer)["body"];
        return {body.value("status", ""), body.value("detail", "")};
    }

    testing::TemporaryFolder folder;
    TestJackServer server{folder.path() / "jackd.log"};
};

TEST_F(MIDIServerRestartTest, MIDIIsBackOnTheSamePortSoonAfterTheServerReturns) {
    ASSERT_TRUE(server.start());
    auto reader = awaitServer();
    ASSERT_TRUE(reader) << "the test's jackd never answered";
    RealBridge bridge(folder.path(), 9);
    const auto port = bridge.start({{"JACK_DEFAULT_SERVER", TestJackServer::name}});
    ASSERT_TRUE(port) << bridge.process().errorOutput();
    auto iPad = connectIPad(*port);
    ASSERT_TRUE(iPad);
    ASSERT_TRUE(reader->connectFrom(bridgePort));
    std::this_thread::sleep_for(connectionTakesEffect);
    ASSERT_EQ(send(*iPad, 60).first, "accepted");
    ASSERT_EQ(reader->take(1, 5s), (MIDIEvents{{0x90, 60, 100}}));

    std::vector<double> recoveries;
    for (int round = 0; round < restarts; ++round) {
        const std::size_t logFrom = bridge.process().errorOutputSize();
        if (round == 1) {
            // A note queued just before the server dies must not sound on the next one.
            server.freeze();
            EXPECT_EQ(send(*iPad, 50).first, "accepted") << "queued for a cycle that never comes";
            ASSERT_TRUE(server.kill()) << "jackd did not die";
            reader.reset();
        } else {
            reader.reset();
            ASSERT_TRUE(server.stop()) << "jackd did not stop";
        }
        ASSERT_TRUE(bridge.process().awaitLine("MIDI output lost", 5s, logFrom))
            << bridge.process().errorOutput();
        std::vector<std::string> refusedIDs;
        for (int note = 70; note < 73; ++note) {
            refusedIDs.push_back(Uuid::random().text());
            EXPECT_EQ(send(*iPad, note, refusedIDs.back()),
                      (std::pair<std::string, std::string>{"rejected", refused}))
                << "during the outage";
        }

        ASSERT_TRUE(server.start());
        reader = awaitServer();
        const auto ready = Clock::now();
        ASSERT_TRUE(reader) << "the test's jackd did not come back";
        ASSERT_TRUE(connectWhenThePortAppears(*reader)) << bridge.process().errorOutput();
        // The port may be there a moment before its client is ready to carry
        // MIDI: probe until a command is accepted.
        std::optional<Clock::time_point> accepted;
        int probes = 0;
        while (!accepted && Clock::now() - ready < 10s) {
            ++probes;
            if (send(*iPad, 100).first == "accepted") {
                accepted = Clock::now();
            } else {
                std::this_thread::sleep_for(5ms);
            }
        }
        ASSERT_TRUE(accepted) << "MIDI did not come back";
        recoveries.push_back(std::chrono::duration<double, std::milli>(*accepted - ready).count());
        EXPECT_TRUE(bridge.process().awaitLine("MIDI output is back", 1s, logFrom));

        EXPECT_EQ(portProperty(*reader, JackMIDISystem::manufacturerKey), "QV");
        EXPECT_EQ(portProperty(*reader, JackMIDISystem::modelKey), "Varnello Bridge");
        EXPECT_TRUE(portProperty(*reader, JackMIDISystem::uniqueIDKey));
        // An iPad that sends a refused command again is told so; it is never played late.
        EXPECT_EQ(send(*iPad, 70, refusedIDs[0]),
                  (std::pair<std::string, std::string>{
                      "rejected", "This command failed previously and will not be retried."}));
        std::this_thread::sleep_for(connectionTakesEffect);
        ASSERT_EQ(send(*iPad, 61).first, "accepted");
        // The note after the return, perhaps after the accepted probe (which
        // may have gone out before the connection took effect), and nothing of
        // the outage.
        MIDIEvents heard = reader->take(SIZE_MAX, 5s, 500ms);
        if (!heard.empty() && heard.front() == std::vector<std::uint8_t>{0x90, 100, 100}) {
            heard.erase(heard.begin());
        }
        EXPECT_EQ(heard, (MIDIEvents{{0x90, 61, 100}}))
            << "after restart " << round + 1 << ", " << probes << " probes";
    }

    // One line when the output goes and one when it is back, per restart.
    const std::string log = bridge.process().errorOutput();
    EXPECT_EQ(occurrences(log, "MIDI output lost"), restarts) << log;
    EXPECT_EQ(occurrences(log, "MIDI output is back"), restarts) << log;
    for (std::size_t i = 0; i < recoveries.size(); ++i) {
        std::printf("MIDI accepted %.0f ms after the JACK server answered again (restart %zu)\n",
                    recoveries[i], i + 1);
    }
    EXPECT_EQ(bridge.terminate(), 0);
    reader.reset();
    EXPECT_TRUE(server.stop());
}

} // namespace
} // namespace varnello::endtoend
