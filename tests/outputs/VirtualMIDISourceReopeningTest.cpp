#include "FakeMIDISystem.h"
#include "outputs/VirtualMIDISource.h"
#include "outputs/VirtualMIDISourceError.h"
#include "support/ManualExecutor.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace varnello {
namespace {

using namespace std::chrono_literals;
using test::FakeMIDIState;
using test::FakeMIDISystem;

constexpr MIDIStatus serverGone = -3004;
constexpr MIDIStatus noServer = -17;
const std::vector<std::uint8_t> noteOn = {0x90, 0x3C, 0x64};

struct Change {
    MIDIConnectionState state;
    MIDIStatus status;
    friend bool operator==(const Change&, const Change&) = default;
};

class VirtualMIDISourceReopeningTest : public ::testing::Test {
protected:
    std::unique_ptr<VirtualMIDISource> makeSource() {
        return std::make_unique<VirtualMIDISource>(std::make_unique<FakeMIDISystem>(state),
                                                   0x54564231);
    }

    void reopenOnQueue(VirtualMIDISource& source) {
        source.reopenOn(queue, [this](MIDIConnectionState connection, MIDIStatus status) {
            EXPECT_TRUE(queue.isCurrent());
            changes.push_back({connection, status});
        });
        queue.runDue();
    }

    // The loss handler as JACK calls it: on a thread of its own.
    void tellLossFromAnotherThread() {
        ASSERT_TRUE(state->lossHandler);
        std::thread([handler = state->lossHandler] { handler(); }).join();
    }

    // The text of the error a send fails with; nothing when it succeeds.
    static std::optional<std::string> sendError(VirtualMIDISource& source) {
        try {
            source.send(noteOn);
        } catch (const VirtualMIDISourceError& error) {
            return error.message();
        }
        return std::nullopt;
    }

    long count(const std::string& call) const {
        return std::count(state->calls.begin(), state->calls.end(), call);
    }

    std::shared_ptr<FakeMIDIState> state = std::make_shared<FakeMIDIState>();
    ManualExecutor queue;
    std::vector<Change> changes;
};

TEST_F(VirtualMIDISourceReopeningTest, LostServerRefusesSendsThenReopensTheSameSourceOnceASecond) {
    auto source = makeSource();
    reopenOnQueue(*source);
    ASSERT_EQ(source->endpoint(), 101U);

    state->loseEveryClient(serverGone, noServer);
    tellLossFromAnotherThread();
    EXPECT_TRUE(changes.empty()) << "the news must wait for the queue";
    queue.runDue();

    EXPECT_EQ(source->state(), MIDIConnectionState::lost);
    EXPECT_EQ(changes, (std::vector<Change>{{MIDIConnectionState::lost, serverGone}}));
    // Refused without reaching the system: nothing is kept to be played later.
    const std::size_t emitsBefore = static_cast<std::size_t>(count("emit 101"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sendError(*source), "CoreMIDI could not perform \u2018Send MIDI\u2019 (-3004).");
    }
    EXPECT_EQ(static_cast<std::size_t>(count("emit 101")), emitsBefore);

    // About once a second, and not before.
    state->calls.clear();
    queue.advance(999ms);
    EXPECT_EQ(count("createClient Varnello Bridge"), 0);
    queue.advance(1ms);
    // The lost client goes first, with whatever it still held.
    EXPECT_EQ(state->calls, (std::vector<std::string>{"disposeEndpoint 101", "disposeClient 100",
                                                      "createClient Varnello Bridge"}));
    EXPECT_TRUE(state->liveClients.empty());
    EXPECT_TRUE(state->liveEndpoints.empty());
    queue.advance(3000ms);
    EXPECT_EQ(count("createClient Varnello Bridge"), 4);
    EXPECT_EQ(changes.size(), 1U) << "one line for the loss, however long it lasts";

    // The server is back: the next attempt publishes the same source again.
    state->createClientStatus = 0;
    state->calls.clear();
    state->properties.clear();
    queue.advance(1000ms);
    const std::vector<std::string> reopened = {
        "createClient Varnello Bridge",
        "createSource 102 Varnello Bridge",
        "set manufacturer 103",
        "set model 103",
        "set uniqueID 103",
    };
    EXPECT_EQ(state->calls, reopened);
    EXPECT_EQ(state->properties, (std::map<std::string, std::string>{{"manufacturer", "QV"},
                                                                     {"model", "Varnello Bridge"},
                                                                     {"uniqueID", "1414939185"}}));
    EXPECT_EQ(changes, (std::vector<Change>{{MIDIConnectionState::lost, serverGone},
                                            {MIDIConnectionState::connected, 0}}));
    EXPECT_EQ(source->state(), MIDIConnectionState::connected);

    EXPECT_EQ(sendError(*source), std::nullopt);
    ASSERT_EQ(state->packets.size(), 1U);
    EXPECT_EQ(state->packets[0].endpoint, 103U);
    EXPECT_EQ(state->packets[0].bytes, noteOn);

    // Nothing more is tried once the source is back.
    state->calls.clear();
    queue.advance(10s);
    EXPECT_TRUE(state->calls.empty());
    EXPECT_EQ(queue.pendingCount(), 0U);
}

TEST_F(VirtualMIDISourceReopeningTest, SendThatFindsTheClientBrokenLosesItAndReopensIt) {
    // The sequencer's way: no news of its own, only a failing send.
    constexpr MIDIStatus noDevice = -19;
    auto source = makeSource();
    reopenOnQueue(*source);
    state->loseEveryClient(noDevice, noDevice);

    EXPECT_EQ(sendError(*source), "CoreMIDI could not perform \u2018Send MIDI\u2019 (-19).");
    EXPECT_EQ(changes, (std::vector<Change>{{MIDIConnectionState::lost, noDevice}}));
    EXPECT_EQ(sendError(*source), "CoreMIDI could not perform \u2018Send MIDI\u2019 (-19).");
    EXPECT_EQ(count("emit 101"), 1);

    state->createClientStatus = 0;
    queue.advance(1000ms);
    EXPECT_EQ(count("disposeClient 100"), 1);
    EXPECT_EQ(source->state(), MIDIConnectionState::connected);
    EXPECT_EQ(sendError(*source), std::nullopt);
    EXPECT_EQ(changes.size(), 2U);
}

TEST_F(VirtualMIDISourceReopeningTest, FailureThatLeavesTheClientUsableKeepsIt) {
    auto source = makeSource();
    reopenOnQueue(*source);
    state->emitStatus = -50;

    EXPECT_EQ(sendError(*source), "CoreMIDI could not perform \u2018Send MIDI\u2019 (-50).");
    EXPECT_EQ(source->state(), MIDIConnectionState::connected);
    EXPECT_EQ(state->liveClients, (std::set<MIDIClientRef>{100}));
    queue.advance(5s);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(count("createClient Varnello Bridge"), 1);
}

TEST_F(VirtualMIDISourceReopeningTest, SourceRefusedDuringAnAttemptReleasesItsClientAndTriesAgain) {
    auto source = makeSource();
    reopenOnQueue(*source);
    state->loseEveryClient(serverGone, 0);
    state->createSourceStatus = -5;
    tellLossFromAnotherThread();
    queue.advance(1000ms);

    EXPECT_EQ(source->state(), MIDIConnectionState::lost);
    EXPECT_TRUE(state->liveClients.empty()) << "the attempt's client is left behind";
    EXPECT_EQ(sendError(*source), "CoreMIDI could not perform \u2018Send MIDI\u2019 (-3004).");

    state->createSourceStatus = 0;
    queue.advance(1000ms);
    EXPECT_EQ(source->state(), MIDIConnectionState::connected);
    EXPECT_EQ(state->liveClients.size(), 1U);
}

TEST_F(VirtualMIDISourceReopeningTest, LossBeforeTheContextIsNamedIsTakenUpThen) {
    const struct {
        const char* name;
        bool noticedBySend;
    } cases[] = {{"told by the system", false}, {"noticed by a send", true}};
    for (const auto& c : cases) {
        state = std::make_shared<FakeMIDIState>();
        changes.clear();
        auto source = makeSource();
        state->loseEveryClient(serverGone, 0);
        if (c.noticedBySend) {
            EXPECT_TRUE(sendError(*source)) << c.name;
        } else {
            state->lossHandler();
        }
        EXPECT_EQ(queue.pendingCount(), 0U) << c.name;

        reopenOnQueue(*source);
        queue.advance(1000ms);
        EXPECT_EQ(source->state(), MIDIConnectionState::connected) << c.name;
        EXPECT_EQ(sendError(*source), std::nullopt) << c.name;
    }
}

TEST_F(VirtualMIDISourceReopeningTest, NothingIsPostedOrOpenedOnceReopeningStops) {
    auto source = makeSource();
    reopenOnQueue(*source);
    state->loseEveryClient(serverGone, 0);
    tellLossFromAnotherThread();
    queue.runDue();
    ASSERT_EQ(queue.pendingCount(), 1U); // the first attempt

    source->stopReopening();
    state->lossHandler();
    queue.advance(5s);
    EXPECT_EQ(count("createClient Varnello Bridge"), 1) << "only the first, at creation";
    EXPECT_EQ(queue.pendingCount(), 0U);

    // The lost client, which no attempt released, goes with the source.
    state->calls.clear();
    source.reset();
    EXPECT_EQ(state->calls, (std::vector<std::string>{"disposeEndpoint 101", "disposeClient 100"}));
}

TEST_F(VirtualMIDISourceReopeningTest, LossToldAgainWhileLostStartsNoSecondRoundOfAttempts) {
    auto source = makeSource();
    reopenOnQueue(*source);
    state->loseEveryClient(serverGone, noServer);
    for (int i = 0; i < 3; ++i) {
        tellLossFromAnotherThread();
    }
    queue.advance(5000ms);
    EXPECT_EQ(count("createClient Varnello Bridge"), 1 + 5);
    EXPECT_EQ(changes.size(), 1U);
}

} // namespace
} // namespace varnello
