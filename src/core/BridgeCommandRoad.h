#pragma once

#include "core/BridgePreferences.h"
#include "ledger/CommandLedger.h"
#include "ledger/LedgerFill.h"
#include "outputs/OSCForwarder.h"
#include "outputs/VirtualMIDISource.h"
#include "protocol/TessaroBridgeAcknowledgement.h"
#include "protocol/TessaroBridgeCommand.h"
#include "protocol/TessaroBridgeConstants.h"
#include "server/BridgeCommandIntake.h"
#include "support/Executor.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace varnello {

// Carries every command from the server to its output and back to an
// acknowledgement, executing each identifier at most once through the ledger.
// It queues the commands that wait, forms them into batches, reserves, executes,
// records and answers; the batching rules are stated at runBatch and
// openHold, beside the code that applies them. Owns the outputs and the ledger.
//
// Must be owned by a std::shared_ptr. Built on the main thread; runOn names the
// server queue before the first command, and from then on only the server queue
// calls it (before runOn, whichever single thread built it), except
// ledgerFill, which any thread may read.
class BridgeCommandRoad final : public BridgeCommandIntake,
                                public std::enable_shared_from_this<BridgeCommandRoad> {
public:
    static constexpr std::string_view uncertainDetail =
        "This command was already received; the earlier execution is uncertain.";
    static constexpr std::string_view duplicateDetail = "This command has already been performed.";
    static constexpr std::string_view failedBeforeDetail =
        "This command failed previously and will not be retried.";
    // Bounds the time a batch holds the queue, and so the wait of whatever
    // else is due there.
    static constexpr std::size_t maximumBatchSize = 64;
    static constexpr std::chrono::milliseconds holdAfterBatch{1};

    BridgeCommandRoad(std::shared_ptr<BridgePreferences> preferences,
                      std::unique_ptr<OSCForwarder> oscForwarder,
                      std::unique_ptr<VirtualMIDISource> midiSource,
                      std::unique_ptr<CommandLedger> ledger);

    BridgeCommandRoad(const BridgeCommandRoad&) = delete;
    BridgeCommandRoad& operator=(const BridgeCommandRoad&) = delete;

    // The queue that submitted commands run on. Once, before the first submit.
    void runOn(Executor& serverQueue);

    // The road of every iPad's command: it waits for its batch, at the next turn
    // of the queue or, after a batch of several, a little later (openHold).
    void submit(const TessaroBridgeCommand& command, Completion completion) override;

    // The same road, answered within the call: the commands join those waiting,
    // and batches run until they are answered. One acknowledgement per command, in
    // their order. Nothing escapes: every failure is a rejected acknowledgement.
    std::vector<TessaroBridgeAcknowledgement>
    carry(std::span<const TessaroBridgeCommand> commands) noexcept;

    std::size_t pendingCount() const noexcept { return pending_.size(); }

    // For reopening a lost MIDI output on the server queue.
    VirtualMIDISource& midiSource() noexcept { return *midiSource_; }

    // How full the ledger's tombstone filter is now. Any thread.
    LedgerFill ledgerFill() const noexcept;

    // Called after a batch whenever the fill's whole percent changed. Set before
    // the first command.
    std::function<void()> onLedgerFillChange;

    // A rejection whose detail is cut to the wire's maximumDetailCharacters.
    static TessaroBridgeAcknowledgement rejected(const Uuid& commandID,
                                                 std::string_view detail) noexcept;

private:
    struct Pending {
        TessaroBridgeCommand command;
        Completion completion;
    };

    // Whether a batch is due. `holding`: after a batch of several, the next one
    // waits for awaitedCommands_ commands, or for the hold's timer.
    enum class BatchState { idle, posted, holding };

    void postBatch();
    void runBatch();
    void openHold(std::size_t awaited);
    void endHold();
    std::vector<TessaroBridgeAcknowledgement>
    answerBatch(std::span<const TessaroBridgeCommand> commands);
    // The commands at `positions`: distinct identifiers, at most the ledger's
    // window. Their answers go to the same positions.
    void reserveExecuteRecord(std::span<const TessaroBridgeCommand> commands,
                              std::span<const std::size_t> positions,
                              std::vector<TessaroBridgeAcknowledgement>& answers);
    void execute(const TessaroBridgePayload& payload);
    void noteLedgerFill();
    static TessaroBridgeAcknowledgement answerForKnown(const Uuid& commandID,
                                                       CommandLedgerState earlier);
    void assertOnQueue() const noexcept;

    std::shared_ptr<BridgePreferences> preferences_;
    std::unique_ptr<OSCForwarder> oscForwarder_;
    std::unique_ptr<VirtualMIDISource> midiSource_;
    std::unique_ptr<CommandLedger> ledger_;
    std::int64_t maximumInsertions_;
    std::atomic<std::int64_t> insertionCount_;

    Executor* queue_ = nullptr;
    std::deque<Pending> pending_;
    BatchState batchState_ = BatchState::idle;
    std::size_t awaitedCommands_ = 0;
};

} // namespace varnello
