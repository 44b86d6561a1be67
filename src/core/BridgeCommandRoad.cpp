#include "core/BridgeCommandRoad.h"

#include "support/PrefixCharacters.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>

namespace varnello {

namespace {

TessaroBridgeAcknowledgement acknowledgement(const Uuid& commandID, TessaroBridgeAckStatus status,
                                             std::optional<std::string> detail) {
    return TessaroBridgeAcknowledgement{commandID, status, std::move(detail)};
}

// The cut needs ICU; should it fail, a whole detail is still better than none.
std::string cutDetail(std::string_view detail) noexcept {
    try {
        return prefixCharacters(detail, maximumDetailCharacters);
    } catch (const std::exception&) {
        return std::string(detail.substr(0, maximumDetailCharacters));
    }
}

} // namespace

BridgeCommandRoad::BridgeCommandRoad(std::shared_ptr<BridgePreferences> preferences,
                                     std::unique_ptr<OSCForwarder> oscForwarder,
                                     std::unique_ptr<VirtualMIDISource> midiSource,
                                     std::unique_ptr<CommandLedger> ledger)
    : preferences_(std::move(preferences)), oscForwarder_(std::move(oscForwarder)),
      midiSource_(std::move(midiSource)), ledger_(std::move(ledger)),
      maximumInsertions_(ledger_->tombstones().maximumInsertions()),
      insertionCount_(ledger_->tombstones().insertionCount()) {}

void BridgeCommandRoad::runOn(Executor& serverQueue) {
    assert(queue_ == nullptr);
    queue_ = &serverQueue;
}

LedgerFill BridgeCommandRoad::ledgerFill() const noexcept {
    return LedgerFill{insertionCount_.load(std::memory_order_relaxed), maximumInsertions_};
}

TessaroBridgeAcknowledgement BridgeCommandRoad::rejected(const Uuid& commandID,
                                                         std::string_view detail) noexcept {
    return acknowledgement(commandID, TessaroBridgeAckStatus::rejected, cutDetail(detail));
}

void BridgeCommandRoad::assertOnQueue() const noexcept {
    assert(queue_ == nullptr || queue_->isCurrent());
}

void BridgeCommandRoad::submit(const TessaroBridgeCommand& command, Completion completion) {
    assert(queue_ != nullptr);
    assertOnQueue();
    pending_.push_back(Pending{command, std::move(completion)});
    switch (batchState_) {
    case BatchState::idle:
        postBatch();
        return;
    case BatchState::holding:
        if (pending_.size() >= awaitedCommands_) {
            postBatch();
        }
        return;
    case BatchState::posted:
        return;
    }
}

std::vector<TessaroBridgeAcknowledgement>
BridgeCommandRoad::carry(std::span<const TessaroBridgeCommand> commands) noexcept {
    assertOnQueue();
    std::vector<TessaroBridgeAcknowledgement> answers(commands.size());
    std::size_t unanswered = commands.size();
    for (std::size_t i = 0; i < commands.size(); ++i) {
        pending_.push_back(Pending{
            commands[i], [&answers, &unanswered, i](const TessaroBridgeAcknowledgement& answer) {
                answers[i] = answer;
                --unanswered;
            }});
    }
    // Those that waited before go first, as they would have at the next turn.
    while (unanswered > 0) {
        runBatch();
    }
    return answers;
}

void BridgeCommandRoad::postBatch() {
    batchState_ = BatchState::posted;
    queue_->post([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->batchState_ = BatchState::idle;
            self->runBatch();
        }
    });
}

// A batch is every command waiting, up to maximumBatchSize, in the order they
// came: all of it is reserved with one save of each ledger file, then executed
// one command after another, then recorded with one save, and only then
// answered. A stage full of iPads so waits for the disk once per batch instead
// of each iPad behind all the others, and every answer is what the command would
// have got alone.
void BridgeCommandRoad::runBatch() {
    assertOnQueue();
    const std::size_t count = std::min(pending_.size(), maximumBatchSize);
    if (count == 0) {
        return;
    }
    std::vector<TessaroBridgeCommand> commands;
    std::vector<Completion> completions;
    commands.reserve(count);
    completions.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        commands.push_back(std::move(pending_.front().command));
        completions.push_back(std::move(pending_.front().completion));
        pending_.pop_front();
    }
    const std::vector<TessaroBridgeAcknowledgement> answers = answerBatch(commands);
    noteLedgerFill();
    // A completion may submit again; that command joins whatever is left.
    for (std::size_t i = 0; i < count; ++i) {
        if (completions[i]) {
            completions[i](answers[i]);
        }
    }
    if (queue_ == nullptr || batchState_ == BatchState::posted) {
        return;
    }
    if (!pending_.empty()) {
        // These have waited a whole batch already.
        postBatch();
    } else if (count > 1) {
        openHold(count);
    }
}

// After a batch of several commands that left nothing waiting, the next batch
// waits until as many commands wait, for at most holdAfterBatch: iPads answered
// together send their next commands together, and a batch that took only the
// first of them would make the others wait for two saves.
void BridgeCommandRoad::openHold(std::size_t awaited) {
    batchState_ = BatchState::holding;
    awaitedCommands_ = awaited;
    // A timer left from an earlier hold may end this one sooner; a hold is only
    // ever a bound on the wait.
    queue_->postAfter(holdAfterBatch, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->endHold();
        }
    });
}

void BridgeCommandRoad::endHold() {
    assertOnQueue();
    if (batchState_ != BatchState::holding) {
        return;
    }
    batchState_ = BatchState::idle;
    if (!pending_.empty()) {
        postBatch();
    }
}

std::vector<TessaroBridgeAcknowledgement>
BridgeCommandRoad::answerBatch(std::span<const TessaroBridgeCommand> commands) {
    std::vector<TessaroBridgeAcknowledgement> answers(commands.size());
    // Positions of each identifier's first occurrence. One met again in the batch
    // is answered once its first occurrence's outcome is recorded, as it would
    // have been one command at a time.
    std::vector<std::size_t> distinct;
    std::vector<std::size_t> repeats;
    std::unordered_set<Uuid> seen;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        (seen.insert(commands[i].id).second ? distinct : repeats).push_back(i);
    }
    const auto window = static_cast<std::size_t>(ledger_->maximumEntries());
    for (std::size_t start = 0; start < distinct.size(); start += window) {
        reserveExecuteRecord(
            commands, std::span(distinct).subspan(start, std::min(window, distinct.size() - start)),
            answers);
    }
    for (const std::size_t i : repeats) {
        answers[i] = answerBatch(commands.subspan(i, 1)).front();
    }
    return answers;
}

void BridgeCommandRoad::noteLedgerFill() {
    const LedgerFill before = ledgerFill();
    insertionCount_.store(ledger_->tombstones().insertionCount(), std::memory_order_relaxed);
    if (ledgerFill().percent() != before.percent() && onLedgerFillChange) {
        onLedgerFillChange();
    }
}

void BridgeCommandRoad::reserveExecuteRecord(std::span<const TessaroBridgeCommand> commands,
                                             std::span<const std::size_t> positions,
                                             std::vector<TessaroBridgeAcknowledgement>& answers) {
    std::vector<Uuid> ids;
    ids.reserve(positions.size());
    for (const std::size_t i : positions) {
        ids.push_back(commands[i].id);
    }
    std::vector<CommandReservation> reservations;
    try {
        reservations = ledger_->reserveAll(ids);
    } catch (const std::exception& error) {
        for (const std::size_t i : positions) {
            answers[i] = rejected(commands[i].id, error.what());
        }
        return;
    }

    std::vector<CommandLedgerEntry> outcomes;
    // The position of each outcome's command.
    std::vector<std::size_t> ran;
    for (std::size_t k = 0; k < positions.size(); ++k) {
        const std::size_t i = positions[k];
        const Uuid& id = commands[i].id;
        const CommandReservation& reservation = reservations[k];
        if (reservation.error) {
            answers[i] = rejected(id, reservation.error->what());
        } else if (reservation.earlierState) {
            answers[i] = answerForKnown(id, *reservation.earlierState);
        } else {
            try {
                execute(commands[i].payload);
                outcomes.push_back({id, CommandLedgerState::executed});
                answers[i] = acknowledgement(id, TessaroBridgeAckStatus::accepted, std::nullopt);
            } catch (const std::exception& error) {
                outcomes.push_back({id, CommandLedgerState::failed});
                answers[i] = rejected(id, error.what());
            }
            ran.push_back(i);
        }
    }
    if (outcomes.empty()) {
        return;
    }
    try {
        ledger_->recordAll(outcomes);
    } catch (const std::exception& error) {
        // The reason sent is the first failure; a failure to note it is not news.
        for (std::size_t j = 0; j < outcomes.size(); ++j) {
            if (outcomes[j].state == CommandLedgerState::executed) {
                answers[ran[j]] = rejected(outcomes[j].id, error.what());
                outcomes[j].state = CommandLedgerState::failed;
            }
        }
        try {
            ledger_->recordAll(outcomes);
        } catch (const std::exception&) {
        }
    }
}

TessaroBridgeAcknowledgement BridgeCommandRoad::answerForKnown(const Uuid& commandID,
                                                               CommandLedgerState earlier) {
    switch (earlier) {
    case CommandLedgerState::accepted:
        return rejected(commandID, uncertainDetail);
    case CommandLedgerState::executed:
        return acknowledgement(commandID, TessaroBridgeAckStatus::duplicate,
                               std::string(duplicateDetail));
    case CommandLedgerState::failed:
        return rejected(commandID, failedBeforeDetail);
    }
    // Whatever else a known identifier could hold, running it again is worse.
    return rejected(commandID, uncertainDetail);
}

void BridgeCommandRoad::execute(const TessaroBridgePayload& payload) {
    if (const auto* address = payload.oscAddress()) {
        oscForwarder_->send(*address, preferences_->oscConfiguration());
    } else if (const auto* bytes = payload.midiBytes()) {
        midiSource_->send(*bytes);
    }
}

} // namespace varnello
