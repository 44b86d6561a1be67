#include "BridgeCoordinatorTestSupport.h"
#include "outputs/FakeMIDISystem.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace varnello {
namespace {

using namespace std::chrono_literals;
using testing::CoordinatorFixture;
using testing::midiCommand;

constexpr const char* refused = "CoreMIDI could not perform \u2018Send MIDI\u2019 (-3004).";
constexpr const char* lostLine = "MIDI output lost (status -3004); reopening it every second";
constexpr const char* backLine = "MIDI output is back";

// The coordinator over a MIDI system whose server can go away, with the
// server queue on the test's executor.
class MIDIOutageTest : public CoordinatorFixture {
protected:
    std::shared_ptr<BridgeCoordinator> startCoordinator() {
        auto environment = this->environment();
        environment.makeMIDISystem = [state = midiState] {
            return std::make_unique<test::FakeMIDISystem>(state);
        };
        auto coordinator = BridgeCoordinator::create(preferences, main, std::move(environment));
        coordinator->start();
        main.runDue();
        return coordinator;
    }

    // Every "runtime" line about the MIDI output, with its level.
    std::vector<std::string> midiLines() const {
        std::vector<std::string> lines;
        for (const LogRecord& record : logSink->records()) {
            if (record.category == "runtime" && record.text.starts_with("MIDI output")) {
                lines.push_back(std::string(logLevelName(record.level)) + " " + record.text);
            }
        }
        return lines;
    }

    TessaroBridgeAcknowledgement rejected(const Uuid& id, std::string detail) const {
        return {id, TessaroBridgeAckStatus::rejected, std::move(detail)};
    }

    std::shared_ptr<test::FakeMIDIState> midiState = std::make_shared<test::FakeMIDIState>();
};

TEST_F(MIDIOutageTest, CommandsDuringTheOutageFailAndTheOutputComesBackLoggedOnceEach) {
    auto coordinator = startCoordinator();
    ASSERT_EQ(coordinator->handleCommand(midiCommand()).status, TessaroBridgeAckStatus::accepted);

    midiState->loseEveryClient(-3004, -17);
    midiState->lossHandler();
    std::vector<TessaroBridgeCommand> refusedCommands;
    for (int second = 0; second < 3; ++second) {
        main.advance(1000ms);
        refusedCommands.push_back(midiCommand({0x90, 61, 100}));
        EXPECT_EQ(coordinator->handleCommand(refusedCommands.back()),
                  rejected(refusedCommands.back().id, refused));
    }
    EXPECT_EQ(midiLines(), (std::vector<std::string>{std::string("error ") + lostLine}));

    midiState->createClientStatus = 0;
    main.advance(1000ms);
    EXPECT_EQ(midiLines(), (std::vector<std::string>{std::string("error ") + lostLine,
                                                     std::string("default ") + backLine}));

    const auto after = midiCommand({0x90, 62, 100});
    EXPECT_EQ(coordinator->handleCommand(after).status, TessaroBridgeAckStatus::accepted);
    // The refused ones were recorded failed: they never run, not even now.
    for (const auto& command : refusedCommands) {
        EXPECT_EQ(coordinator->handleCommand(command),
                  rejected(command.id, "This command failed previously and will not be retried."));
    }
    ASSERT_EQ(midiState->packets.size(), 2U);
    EXPECT_EQ(midiState->packets[1].bytes, (std::vector<std::uint8_t>{0x90, 62, 100}));
    main.advance(10s);
    EXPECT_EQ(midiLines().size(), 2U);
}

TEST_F(MIDIOutageTest, ReleaseDuringAnOutageStopsTheAttempts) {
    auto coordinator = startCoordinator();
    midiState->loseEveryClient(-3004, -17);
    midiState->lossHandler();
    main.advance(2500ms);
    const auto attempts = [this] {
        return std::count(midiState->calls.begin(), midiState->calls.end(),
                          "createClient Varnello Bridge");
    };
    EXPECT_EQ(attempts(), 1 + 2);

    coordinator.reset();
    midiState->createClientStatus = 0;
    main.advance(5s);
    EXPECT_EQ(attempts(), 1 + 2);
    EXPECT_TRUE(midiState->liveClients.empty());
}

} // namespace
} // namespace varnello
