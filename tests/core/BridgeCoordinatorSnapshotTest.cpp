#include "BridgeCoordinatorTestSupport.h"
#include "core/MIDIUniqueID.h"
#include "ledger/CommandLedgerLockError.h"

#include <gtest/gtest.h>
#include <thread>

namespace varnello {
namespace {

using testing::CoordinatorFixture;
using testing::FakeTcpListener;

class SnapshotTest : public CoordinatorFixture {
protected:
    void record(BridgeCoordinator& coordinator) {
        coordinator.onSnapshotChange = [this](const BridgeRuntimeSnapshot& snapshot) {
            snapshots.push_back(snapshot);
            deliveredOnMain.push_back(main.isCurrent());
        };
    }

    BridgeRuntimeSnapshot expected(BridgeServerState state, std::int64_t clients,
                                   std::optional<std::string> startupError = std::nullopt) const {
        return {identity,
                std::move(state),
                clients,
                preferences->oscConfiguration(),
                std::move(startupError),
                LedgerFill{0, limits.maximumInsertions}};
    }

    std::vector<std::string> logTexts(LogLevel level) const {
        std::vector<std::string> texts;
        for (const auto& entry : logSink->records()) {
            EXPECT_EQ(entry.category, "runtime");
            if (entry.level == level) {
                texts.push_back(entry.text);
            }
        }
        return texts;
    }

    std::shared_ptr<FakeTcpListener> iPadListener() const {
        return serverHost->transport.listeners.at(0);
    }

    std::vector<BridgeRuntimeSnapshot> snapshots;
    std::vector<bool> deliveredOnMain;
};

TEST_F(SnapshotTest, ConstructionPublishesNothingAndStartsNoServer) {
    auto coordinator = makeCoordinator();
    record(*coordinator);
    main.runDue();
    EXPECT_TRUE(snapshots.empty());
    EXPECT_EQ(serverHost, nullptr);
    EXPECT_EQ(coordinator->snapshot(), expected(BridgeServerState::stopped(), 0));
}

TEST_F(SnapshotTest, EachNewWholePercentOfLedgerFillIsPublishedOnTheMainThread) {
    auto coordinator = makeCoordinator();
    record(*coordinator);
    // 256 insertions at most: the second command is still 0%, the third 1%.
    for (int i = 0; i < 2; ++i) {
        coordinator->handleCommand(testing::midiCommand());
    }
    main.runDue();
    EXPECT_TRUE(snapshots.empty());
    EXPECT_EQ(coordinator->ledgerFill(), (LedgerFill{2, 256}));
    coordinator->handleCommand(testing::midiCommand());
    EXPECT_TRUE(snapshots.empty());
    main.runDue();
    ASSERT_EQ(snapshots.size(), 1u);
    EXPECT_EQ(snapshots[0].ledgerFill, (LedgerFill{3, 256}));
    EXPECT_EQ(snapshots[0].ledgerFill.percent(), 1);
    EXPECT_EQ(deliveredOnMain, (std::vector<bool>{true}));
    // A known identifier adds nothing.
    const auto again = testing::midiCommand();
    coordinator->handleCommand(again);
    main.runDue();
    const std::size_t published = snapshots.size();
    coordinator->handleCommand(again);
    main.runDue();
    EXPECT_EQ(snapshots.size(), published);
    EXPECT_EQ(coordinator->ledgerFill(), (LedgerFill{4, 256}));
}

TEST_F(SnapshotTest, ServerReportsBecomeSnapshotsAndLogLinesOnTheMainThread) {
    auto coordinator = makeCoordinator();
    record(*coordinator);
    coordinator->start();
    // Reports reach the coordinator only through the main executor.
    EXPECT_TRUE(snapshots.empty());
    main.runDue();
    ASSERT_NE(serverHost, nullptr);
    iPadListener()->boundPort = 40123;
    iPadListener()->report(TcpListener::State::ready);
    main.runDue();

    const std::vector<BridgeRuntimeSnapshot> expectedSnapshots{
        expected(BridgeServerState::starting(), 0), expected(BridgeServerState::ready(40123), 0)};
    EXPECT_EQ(snapshots, expectedSnapshots);
    EXPECT_EQ(deliveredOnMain, (std::vector<bool>{true, true}));
    EXPECT_EQ(logTexts(LogLevel::info),
              (std::vector<std::string>{"Server status: Starten…, clients: 0",
                                        "Server status: Beschikbaar via wifi (TCP 40123), "
                                        "clients: 0"}));
    EXPECT_EQ(coordinator->serverState(), BridgeServerState::ready(40123));
    EXPECT_EQ(*serverHost->publishedPorts, (std::vector<std::uint16_t>{40123}));

    // A client connects: the count travels the same way.
    iPadListener()->connect();
    main.runDue();
    EXPECT_EQ(coordinator->connectedClientCount(), 1);
    EXPECT_EQ(snapshots.back(), expected(BridgeServerState::ready(40123), 1));
    EXPECT_EQ(logTexts(LogLevel::info).back(),
              "Server status: Beschikbaar via wifi (TCP 40123), clients: 1");
}

TEST_F(SnapshotTest, FailedStartIsLoggedKeptAndPublishedOnce) {
    auto coordinator = makeCoordinator();
    record(*coordinator);
    coordinator->server();
    serverHost->transport.failingCreation = 1;
    serverHost->transport.creationError = TransportError(98, "Address already in use");
    coordinator->start();
    main.runDue();

    const auto failed = BridgeServerState::failed("Address already in use");
    EXPECT_EQ(snapshots, (std::vector<BridgeRuntimeSnapshot>{
                             expected(failed, 0, std::string("Address already in use"))}));
    EXPECT_EQ(logTexts(LogLevel::error),
              (std::vector<std::string>{"Could not start Bonjour server: Address already in use"}));
    EXPECT_EQ(coordinator->startupError(), "Address already in use");
    EXPECT_EQ(coordinator->serverState(), failed);
}

TEST_F(SnapshotTest, PreferenceChangePublishesTheNewConfiguration) {
    auto coordinator = makeCoordinator();
    record(*coordinator);
    preferences->saveOSCDestination("192.0.2.7", 8000);
    preferences->setOSCForwardingEnabled(false);
    const OSCForwardingConfiguration saved{true, "192.0.2.7", 8000};
    const OSCForwardingConfiguration disabled{false, "192.0.2.7", 8000};
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(snapshots[0].oscConfiguration, saved);
    EXPECT_EQ(snapshots[1].oscConfiguration, disabled);
    EXPECT_EQ(deliveredOnMain, (std::vector<bool>{true, true}));

    // Released: changes reach nobody.
    coordinator.reset();
    preferences->setOSCForwardingEnabled(true);
    EXPECT_EQ(snapshots.size(), 2u);
}

TEST_F(SnapshotTest, PublishingFromAnotherThreadDeliversOnTheMainThread) {
    auto coordinator = makeCoordinator();
    record(*coordinator);
    std::thread([&] { coordinator->publishSnapshot(); }).join();
    EXPECT_TRUE(snapshots.empty());
    EXPECT_EQ(main.runDue(), 1u);
    EXPECT_EQ(snapshots,
              (std::vector<BridgeRuntimeSnapshot>{expected(BridgeServerState::stopped(), 0)}));
    EXPECT_EQ(deliveredOnMain, (std::vector<bool>{true}));
}

TEST_F(SnapshotTest, ReportsArrivingAfterReleaseAreDropped) {
    auto coordinator = makeCoordinator();
    record(*coordinator);
    coordinator->start();
    coordinator.reset();
    main.runDue();
    EXPECT_TRUE(snapshots.empty());
}

TEST_F(SnapshotTest, ReleaseStopsTheServerAndFinishesItsQueue) {
    auto coordinator = makeCoordinator();
    record(*coordinator);
    coordinator->start();
    main.runDue();
    auto listener = iPadListener();
    ASSERT_EQ(serverHostFinishes, 0);
    coordinator.reset();
    EXPECT_EQ(serverHostFinishes, 1);
    main.runDue();
    EXPECT_GE(listener->cancelCount, 1);
}

TEST_F(SnapshotTest, ConstructionFailuresPropagateUnchangedAndReleaseWhatWasBuilt) {
    auto running = makeCoordinator();
    // A second bridge over the same ledger files.
    EXPECT_THROW(makeCoordinator(), CommandLedgerLockError);
    EXPECT_EQ(midi->liveClients, 1);

    auto environment = this->environment();
    environment.loadIdentity = []() -> BridgeIdentity { throw std::runtime_error("no identity"); };
    EXPECT_THROW(BridgeCoordinator::create(preferences, main, environment), std::runtime_error);
    EXPECT_EQ(midi->liveClients, 1);
}

TEST(MIDIUniqueIDTest, FirstEightHexDigitsOrTheFallback) {
    struct Case {
        std::string id;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"0a1b2c3d4e5f", 0x0a1b2c3d},
        {"ffffffff00", 0xffffffff},
        {"ABCDEF12", 0xABCDEF12},
        {"00000001", 1},
        {"abc", 0xabc},
        {"00000000ffff", fallbackMIDIUniqueID},
        {"", fallbackMIDIUniqueID},
        {"0a1b2c3g", fallbackMIDIUniqueID},
        {"+a1b2c3d", fallbackMIDIUniqueID},
        {" a1b2c3d", fallbackMIDIUniqueID},
        {"0a1b2c3\xC3\xA9", fallbackMIDIUniqueID},
        // The eighth character is a digit with an accent, not a digit.
        {"0a1b2c3d\xCC\x81", fallbackMIDIUniqueID},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(midiUniqueID(c.id), c.expected) << c.id;
    }
    EXPECT_EQ(fallbackMIDIUniqueID, 0x54564231u); // "TVB1"
}

TEST_F(CoordinatorFixture, MIDISourceCarriesTheUniqueIDOfTheIdentity) {
    struct Case {
        std::string id;
        std::int32_t expected;
    };
    const Case cases[] = {
        {testing::testIdentity.id, 0x0a1b2c3d},
        {"f0000001" + std::string(56, '0'), static_cast<std::int32_t>(0xf0000001u)},
        {std::string(64, '0'), 0x54564231},
    };
    for (const auto& c : cases) {
        identity.id = c.id;
        auto coordinator = makeCoordinator();
        EXPECT_EQ(midi->uniqueID, c.expected);
        EXPECT_EQ(coordinator->identity(), identity);
    }
}

} // namespace
} // namespace varnello
