#include "outputs/FallbackMIDISystem.h"

#include "FakeMIDISystem.h"
#include "outputs/VirtualMIDISource.h"
#include "support/ManualExecutor.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

using test::FakeMIDIState;
using test::FakeMIDISystem;

class FallbackMIDISystemTest : public ::testing::Test {
protected:
    FallbackMIDISystem makeSystem() {
        return FallbackMIDISystem(std::make_unique<FakeMIDISystem>(preferred, 100),
                                  std::make_unique<FakeMIDISystem>(fallback, 200));
    }

    // Creates a client and source and emits once; the status of the first failing step.
    static MIDIStatus useForOneSend(MIDISystem& system) {
        MIDIClientRef client = 0;
        MIDIEndpointRef endpoint = 0;
        if (const MIDIStatus status = system.createClient("Varnello Bridge", client)) {
            return status;
        }
        if (const MIDIStatus status = system.createSource(client, "Varnello Bridge", endpoint)) {
            return status;
        }
        const std::uint8_t noteOn[] = {0x90, 0x3C, 0x64};
        return system.emit(endpoint, system.currentHostTime(), noteOn);
    }

    std::shared_ptr<FakeMIDIState> preferred = std::make_shared<FakeMIDIState>();
    std::shared_ptr<FakeMIDIState> fallback = std::make_shared<FakeMIDIState>();
};

TEST_F(FallbackMIDISystemTest, PreferredSystemServesWhenItCreatesAClient) {
    auto system = makeSystem();
    EXPECT_EQ(useForOneSend(system), 0);
    EXPECT_EQ(preferred->packets.size(), 1U);
    EXPECT_TRUE(fallback->calls.empty());
}

TEST_F(FallbackMIDISystemTest, ItsNameIsTheNameOfTheSystemThatServes) {
    preferred->name = "alsa";
    fallback->name = "jack";
    preferred->createClientStatus = -2;
    auto system = makeSystem();
    EXPECT_EQ(system.systemName(), "alsa") << "the preferred until it fails";
    EXPECT_EQ(useForOneSend(system), 0);
    EXPECT_EQ(system.systemName(), "jack");
}

TEST_F(FallbackMIDISystemTest, FallbackServesEveryLaterCallWhenThePreferredFails) {
    preferred->createClientStatus = -2;
    fallback->hostTime = 42;
    auto system = makeSystem();

    EXPECT_EQ(useForOneSend(system), 0);
    ASSERT_EQ(fallback->packets.size(), 1U);
    EXPECT_EQ(fallback->packets[0].timeStamp, 42U);
    EXPECT_EQ(preferred->calls, std::vector<std::string>{"createClient Varnello Bridge"});

    system.disposeEndpoint(201);
    system.disposeClient(200);
    EXPECT_TRUE(fallback->liveClients.empty());
    EXPECT_TRUE(fallback->liveEndpoints.empty());
}

TEST_F(FallbackMIDISystemTest, PreferredFailureIsReportedWhenNeitherCreatesAClient) {
    preferred->createClientStatus = -2;
    fallback->createClientStatus = -17;
    auto system = makeSystem();

    EXPECT_EQ(useForOneSend(system), -2);
    EXPECT_TRUE(preferred->liveClients.empty());
    EXPECT_TRUE(fallback->liveClients.empty());
}

TEST_F(FallbackMIDISystemTest, ChoiceIsSettledByTheFirstClient) {
    preferred->createClientStatus = -2;
    auto system = makeSystem();
    MIDIClientRef first = 0;
    ASSERT_EQ(system.createClient("one", first), 0);

    // The preferred system recovering later must not split clients across systems.
    preferred->createClientStatus = 0;
    MIDIClientRef second = 0;
    ASSERT_EQ(system.createClient("two", second), 0);
    EXPECT_EQ(fallback->liveClients, (std::set<MIDIClientRef>{first, second}));
    EXPECT_TRUE(preferred->liveClients.empty());
}

TEST_F(FallbackMIDISystemTest, ReopeningAfterALossKeepsTheSystemChosenAtStart) {
    preferred->createClientStatus = -2;
    VirtualMIDISource source(
        std::make_unique<FallbackMIDISystem>(std::make_unique<FakeMIDISystem>(preferred, 100),
                                             std::make_unique<FakeMIDISystem>(fallback, 200)),
        7);
    ManualExecutor queue;
    source.reopenOn(queue, [](MIDIConnectionState, MIDIStatus) {});
    queue.runDue();
    ASSERT_EQ(source.client(), 200U);

    // The fallback's server goes away while the preferred system has become usable.
    fallback->loseEveryClient(-3004, 0);
    preferred->createClientStatus = 0;
    ASSERT_TRUE(preferred->lossHandler && fallback->lossHandler);
    fallback->lossHandler();
    queue.advance(std::chrono::milliseconds(1000));

    EXPECT_EQ(source.state(), MIDIConnectionState::connected);
    EXPECT_EQ(source.client(), 202U);
    EXPECT_EQ(fallback->liveClients, (std::set<MIDIClientRef>{202}));
    EXPECT_EQ(preferred->calls, std::vector<std::string>{"createClient Varnello Bridge"});
}

} // namespace
} // namespace varnello
