#include "server/BridgeCommandQueue.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace varnello {

BridgeCommandQueue::BridgeCommandQueue(Executor& queue, BridgeCommandHandler handler)
    : queue_(queue), handler_(std::move(handler)) {}

void BridgeCommandQueue::submit(const TessaroBridgeCommand& command, Completion completion) {
    assert(queue_.isCurrent());
    pending_.push_back(Pending{command, std::move(completion)});
    if (pending_.size() >= awaitedCommands_) {
        scheduleBatch();
    }
}

void BridgeCommandQueue::openHold(std::size_t awaited) {
    awaitedCommands_ = awaited;
    const std::uint64_t hold = ++holdNumber_;
    queue_.postAfter(holdAfterBatch, [weak = weak_from_this(), hold] {
        if (auto self = weak.lock()) {
            self->endHold(hold);
        }
    });
}

void BridgeCommandQueue::endHold(std::uint64_t hold) {
    assert(queue_.isCurrent());
    if (hold != holdNumber_ || awaitedCommands_ == 0) {
        return;
    }
    awaitedCommands_ = 0;
    if (!pending_.empty()) {
        scheduleBatch();
    }
}

void BridgeCommandQueue::scheduleBatch() {
    if (batchScheduled_) {
        return;
    }
    batchScheduled_ = true;
    queue_.post([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->runBatch();
        }
    });
}

void BridgeCommandQueue::runBatch() {
    assert(queue_.isCurrent());
    batchScheduled_ = false;
    awaitedCommands_ = 0;
    const std::size_t count = std::min(pending_.size(), maximumBatchSize);
    std::vector<TessaroBridgeCommand> commands;
    std::vector<Completion> completions;
    commands.reserve(count);
    completions.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        commands.push_back(std::move(pending_.front().command));
        completions.push_back(std::move(pending_.front().completion));
        pending_.pop_front();
    }
    const std::vector<TessaroBridgeAcknowledgement> answers = handler_(commands);
    assert(answers.size() == count);
    // Completions may submit again; those commands join whatever is left.
    for (std::size_t i = 0; i < count && i < answers.size(); ++i) {
        if (completions[i]) {
            completions[i](answers[i]);
        }
    }
    if (!pending_.empty()) {
        // These have waited a whole batch already.
        scheduleBatch();
    } else if (count > 1) {
        // The iPads just answered are likely to send again together.
        openHold(count);
    }
}

} // namespace varnello
