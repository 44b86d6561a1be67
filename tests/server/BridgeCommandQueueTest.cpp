#include "server/BridgeCommandQueue.h"

#include "support/ManualExecutor.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace varnello {
namespace {

TessaroBridgeCommand commandNumber(int n) {
    return TessaroBridgeCommand{Uuid::random(),
                                TessaroBridgePayload::osc("/cue/" + std::to_string(n))};
}

class CommandQueueTest : public ::testing::Test {
protected:
    CommandQueueTest() {
        commands = std::make_shared<BridgeCommandQueue>(
            queue, [this](std::span<const TessaroBridgeCommand> batch) {
                batches.emplace_back(batch.begin(), batch.end());
                std::vector<TessaroBridgeAcknowledgement> answers;
                for (const auto& command : batch) {
                    answers.push_back(answerTo(command));
                }
                return answers;
            });
    }

    // Submits the command; its answer is appended to `answered`.
    void submit(const TessaroBridgeCommand& command) {
        commands->submit(command, [this](const TessaroBridgeAcknowledgement& acknowledgement) {
            answered.push_back(acknowledgement);
        });
    }

    static TessaroBridgeAcknowledgement answerTo(const TessaroBridgeCommand& command) {
        return {command.id, TessaroBridgeAckStatus::duplicate, *command.payload.oscAddress()};
    }

    ManualExecutor queue;
    std::shared_ptr<BridgeCommandQueue> commands;
    std::vector<std::vector<TessaroBridgeCommand>> batches;
    std::vector<TessaroBridgeAcknowledgement> answered;
};

TEST_F(CommandQueueTest, CommandsSubmittedInOneTurnRunAsOneBatchAtTheNextTurn) {
    const auto a = commandNumber(1);
    const auto b = commandNumber(2);
    submit(a);
    submit(b);
    EXPECT_TRUE(batches.empty()) << "nothing runs inside the submitting turn";
    EXPECT_EQ(queue.runDue(), 1U);
    ASSERT_EQ(batches.size(), 1U);
    EXPECT_EQ(batches[0], (std::vector{a, b}));
    EXPECT_EQ(answered, (std::vector{answerTo(a), answerTo(b)}));
    EXPECT_EQ(commands->pendingCount(), 0U);
}

TEST_F(CommandQueueTest, BatchesAreBoundedAndKeepTheOrderOfSubmission) {
    std::vector<TessaroBridgeCommand> submitted;
    const std::size_t total = BridgeCommandQueue::maximumBatchSize + 6;
    for (std::size_t i = 0; i < total; ++i) {
        submitted.push_back(commandNumber(static_cast<int>(i)));
        submit(submitted.back());
    }
    queue.runDue();
    ASSERT_EQ(batches.size(), 2U);
    EXPECT_EQ(batches[0].size(), BridgeCommandQueue::maximumBatchSize);
    EXPECT_EQ(batches[1].size(), 6U);
    ASSERT_EQ(answered.size(), total);
    for (std::size_t i = 0; i < total; ++i) {
        EXPECT_EQ(answered[i], answerTo(submitted[i]));
    }
}

TEST_F(CommandQueueTest, AfterABatchOfSeveralTheNextWaitsForAsManyCommandsOrTheHoldTime) {
    std::vector<TessaroBridgeCommand> c;
    for (int i = 0; i < 6; ++i) {
        c.push_back(commandNumber(i));
    }
    submit(c[0]);
    submit(c[1]);
    queue.runDue();
    ASSERT_EQ(batches.size(), 1U);

    submit(c[2]);
    queue.runDue();
    EXPECT_EQ(batches.size(), 1U) << "held for the second iPad of the last batch";
    submit(c[3]);
    queue.runDue();
    ASSERT_EQ(batches.size(), 2U);
    EXPECT_EQ(batches[1], (std::vector{c[2], c[3]}));

    submit(c[4]);
    queue.advance(BridgeCommandQueue::holdAfterBatch - std::chrono::milliseconds(1));
    EXPECT_EQ(batches.size(), 2U);
    queue.advance(std::chrono::milliseconds(1));
    ASSERT_EQ(batches.size(), 3U) << "never held longer than the hold time";
    EXPECT_EQ(batches[2], (std::vector{c[4]}));

    submit(c[5]);
    queue.runDue();
    EXPECT_EQ(batches.size(), 4U) << "a batch of one holds nothing back";
    EXPECT_EQ(answered.size(), 6U);
}

TEST_F(CommandQueueTest, CommandSubmittedByACompletionJoinsTheNextBatch) {
    const auto first = commandNumber(1);
    const auto second = commandNumber(2);
    const auto third = commandNumber(3);
    const auto fourth = commandNumber(4);
    commands->submit(first, [&](const TessaroBridgeAcknowledgement&) { submit(third); });
    commands->submit(second, [&](const TessaroBridgeAcknowledgement&) { submit(fourth); });
    queue.runDue();
    ASSERT_EQ(batches.size(), 2U);
    EXPECT_EQ(batches[0], (std::vector{first, second}));
    EXPECT_EQ(batches[1], (std::vector{third, fourth}));
    EXPECT_EQ(answered, (std::vector{answerTo(third), answerTo(fourth)}));
}

TEST_F(CommandQueueTest, NothingRunsOnceTheQueueIsReleased) {
    submit(commandNumber(1));
    commands.reset();
    queue.runDue();
    EXPECT_TRUE(batches.empty());
    EXPECT_TRUE(answered.empty());
}

} // namespace
} // namespace varnello
