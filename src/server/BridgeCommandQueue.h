#pragma once

#include "protocol/TessaroBridgeAcknowledgement.h"
#include "protocol/TessaroBridgeCommand.h"
#include "support/Executor.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
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
// hands them to the handler together, so that the ledger is saved once per
// batch and a stage full of iPads waits for the disk once instead of each
// behind all the others. A command runs at the next turn of the queue, with
// one exception: when a batch of several commands leaves nothing pending, the
// next batch waits, for at most holdAfterBatch, until as many commands are
// pending, since iPads that were answered together send their next commands
// together, and a batch that took only the first of them would make the others
// wait for two saves.
// Owned by the server; server queue only.
class BridgeCommandQueue : public std::enable_shared_from_this<BridgeCommandQueue> {
public:
    using Completion = std::function<void(const TessaroBridgeAcknowledgement& acknowledgement)>;

    // Bounds the time a batch holds the queue, and so the wait of whatever
    // else is due there.
    static constexpr std::size_t maximumBatchSize = 64;
    static constexpr std::chrono::milliseconds holdAfterBatch{1};

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
    void openHold(std::size_t awaited);
    void endHold(std::uint64_t hold);

    Executor& queue_;
    BridgeCommandHandler handler_;
    std::deque<Pending> pending_;
    bool batchScheduled_ = false;
    // While set, the next batch waits for this many pending commands.
    std::size_t awaitedCommands_ = 0;
    // Tells a hold's timer whether its hold is still the open one.
    std::uint64_t holdNumber_ = 0;
};

} // namespace varnello
