#include "core/BridgeCommandRoad.h"

#include "BridgeCoordinatorTestSupport.h"
#include "ledger/FaultInjectingFileSystem.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace varnello {
namespace {

using testing::midiCommand;

TessaroBridgeAcknowledgement accepted(const TessaroBridgeCommand& command) {
    return {command.id, TessaroBridgeAckStatus::accepted, std::nullopt};
}

// The road over a real ledger in a temporary folder, whose file system counts the
// saves, and a recording MIDI system; its queue is the test's executor.
class CommandRoadTest : public testing::CoordinatorFixture {
protected:
    CommandRoadTest() {
        limits.maximumEntries = 256;
        road = std::make_shared<BridgeCommandRoad>(
            preferences, std::make_unique<OSCForwarder>(),
            std::make_unique<VirtualMIDISource>(
                std::make_unique<testing::RecordingMIDISystem>(midi), 1),
            std::make_unique<CommandLedger>(ledgerFile(), fileSystem, limits.maximumEntries,
                                            limits.bitCount, limits.hashCount,
                                            limits.maximumInsertions));
        road->runOn(main);
        fileSystem->clearCalls();
    }

    // Submits the command; its answer is appended to `answered`.
    void submit(const TessaroBridgeCommand& command) {
        road->submit(command, [this](const TessaroBridgeAcknowledgement& acknowledgement) {
            answered.push_back(acknowledgement);
        });
    }

    // Each batch saves the tombstone file once, when it is reserved.
    std::size_t batches() const {
        const auto tombstones = CommandLedger::tombstoneFileFor(ledgerFile());
        const auto& renamed = fileSystem->renamedTo();
        return static_cast<std::size_t>(std::count(renamed.begin(), renamed.end(), tombstones));
    }

    static std::vector<TessaroBridgeCommand> notes(int count) {
        std::vector<TessaroBridgeCommand> commands;
        for (int i = 0; i < count; ++i) {
            commands.push_back(midiCommand({0x90, static_cast<std::uint8_t>(i % 128), 1}));
        }
        return commands;
    }

    std::shared_ptr<testing::FaultInjectingFileSystem> fileSystem =
        std::make_shared<testing::FaultInjectingFileSystem>();
    std::shared_ptr<BridgeCommandRoad> road;
    std::vector<TessaroBridgeAcknowledgement> answered;
};

TEST_F(CommandRoadTest, CommandsSubmittedInOneTurnRunAsOneBatchAtTheNextTurn) {
    const auto c = notes(2);
    submit(c[0]);
    submit(c[1]);
    EXPECT_TRUE(midi->packets.empty()) << "nothing runs inside the submitting turn";
    EXPECT_EQ(road->pendingCount(), 2U);
    EXPECT_EQ(main.runDue(), 1U);
    EXPECT_EQ(batches(), 1U);
    EXPECT_EQ(midi->packets.size(), 2U);
    EXPECT_EQ(answered, (std::vector{accepted(c[0]), accepted(c[1])}));
    EXPECT_EQ(road->pendingCount(), 0U);
}

TEST_F(CommandRoadTest, BatchesAreBoundedAndKeepTheOrderOfSubmission) {
    const std::size_t total = BridgeCommandRoad::maximumBatchSize + 6;
    const auto c = notes(static_cast<int>(total));
    for (const auto& command : c) {
        submit(command);
    }
    main.runDue();
    EXPECT_EQ(batches(), 2U);
    ASSERT_EQ(answered.size(), total);
    for (std::size_t i = 0; i < total; ++i) {
        EXPECT_EQ(answered[i], accepted(c[i]));
        EXPECT_EQ(midi->packets.at(i), (std::vector<std::uint8_t>{0x90, std::uint8_t(i % 128), 1}));
    }
}

TEST_F(CommandRoadTest, AfterABatchOfSeveralTheNextWaitsForAsManyCommandsOrTheHoldTime) {
    const auto c = notes(6);
    submit(c[0]);
    submit(c[1]);
    main.runDue();
    ASSERT_EQ(batches(), 1U);

    submit(c[2]);
    main.runDue();
    EXPECT_EQ(batches(), 1U) << "held for the second iPad of the last batch";
    submit(c[3]);
    main.runDue();
    EXPECT_EQ(batches(), 2U);
    EXPECT_EQ(answered.size(), 4U) << "the two held commands ran together";

    submit(c[4]);
    main.advance(BridgeCommandRoad::holdAfterBatch - std::chrono::milliseconds(1));
    EXPECT_EQ(batches(), 2U);
    main.advance(std::chrono::milliseconds(1));
    EXPECT_EQ(batches(), 3U) << "never held longer than the hold time";
    EXPECT_EQ(answered.size(), 5U);

    submit(c[5]);
    main.runDue();
    EXPECT_EQ(batches(), 4U) << "a batch of one holds nothing back";
    EXPECT_EQ(answered.size(), 6U);
}

TEST_F(CommandRoadTest, CommandSubmittedByACompletionJoinsTheNextBatch) {
    const auto c = notes(4);
    road->submit(c[0], [&](const TessaroBridgeAcknowledgement&) { submit(c[2]); });
    road->submit(c[1], [&](const TessaroBridgeAcknowledgement&) { submit(c[3]); });
    main.runDue();
    EXPECT_EQ(batches(), 2U);
    EXPECT_EQ(answered, (std::vector{accepted(c[2]), accepted(c[3])}));
    EXPECT_EQ(midi->packets.size(), 4U);
}

TEST_F(CommandRoadTest, CarriedCommandsGoAfterThoseWaitingAndAreAnsweredWithinTheCall) {
    const auto c = notes(3);
    submit(c[0]);
    const std::vector carried{c[1], c[2]};
    EXPECT_EQ(road->carry(carried), (std::vector{accepted(c[1]), accepted(c[2])}));
    EXPECT_EQ(answered, (std::vector{accepted(c[0])})) << "the waiting command was answered first";
    EXPECT_EQ(midi->packets,
              (std::vector<std::vector<std::uint8_t>>{{0x90, 0, 1}, {0x90, 1, 1}, {0x90, 2, 1}}));
    EXPECT_EQ(batches(), 1U) << "one batch for all three";
    main.runDue();
    EXPECT_EQ(answered.size(), 1U) << "the turn posted for the first command finds nothing";
    EXPECT_EQ(batches(), 1U);
}

TEST_F(CommandRoadTest, NothingRunsOnceTheRoadIsReleased) {
    submit(notes(1)[0]);
    road.reset();
    main.runDue();
    EXPECT_TRUE(midi->packets.empty());
    EXPECT_TRUE(answered.empty());
}

} // namespace
} // namespace varnello
