#pragma once

#include "protocol/TessaroBridgeAcknowledgement.h"
#include "protocol/TessaroBridgeCommand.h"
#include "support/Executor.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace varnello {

// Executes a batch of commands, one after another in their order, and answers
// each: one acknowledgement per command, in the same order. Called on the
// server queue; must not throw (every failure is an acknowledgement).
using BridgeCommandHandler = std::function<std::vector<TessaroBridgeAcknowledgement>(
    std::span<const TessaroBridgeCommand> commands)>;

// Gathers the commands that arrive while earlier ones are being executed and
// hands them to the handler together at the next turn of the server queue, so
// that the ledger is saved once per batch and a stage full of iPads waits for
// the disk once instead of each behind all the others. A command is never held
// back to wait for company: a lone command runs at the next turn. Owned by the
// server; server queue only.
class BridgeCommandQueue : public std::enable_shared_from_this<BridgeCommandQueue> {
public:
    using Completion = std::function<void(const TessaroBridgeAcknowledgement& acknowledgement)>;

    // Bounds the time a batch holds the queue, and so the wait of whatever
    // else is due there.
    static constexpr std::size_t maximumBatchSize = 64;

    BridgeCommandQueue(Executor& queue, BridgeCommandHandler handler);

    BridgeCommandQueue(const BridgeCommandQueue&) = delete;
    BridgeCommandQueue& operator=(const BridgeCommandQueue&) = delete;

    // The completion later runs on the server queue with the command's
    // acknowledgement; commands run in the order they were submitted.
    void submit(const TessaroBridgeCommand& command, Completion completion);

    std::size_t pendingCount() const noexcept { return pending_.size(); }

private:
    struct Pending {
        TessaroBridgeCommand command;
        Completion completion;
    };

    void scheduleBatch();
    void runBatch();

    Executor& queue_;
    BridgeCommandHandler handler_;
    std::deque<Pending> pending_;
    bool batchScheduled_ = false;
};

} // namespace varnello
