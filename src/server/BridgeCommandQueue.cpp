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
    scheduleBatch();
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
        scheduleBatch();
    }
}

} // namespace varnello
