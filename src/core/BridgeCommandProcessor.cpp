#include "core/BridgeCommandProcessor.h"

#include "support/PrefixCharacters.h"

#include <algorithm>
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
        return prefixCharacters(detail, BridgeCommandProcessor::maximumDetailCharacters);
    } catch (const std::exception&) {
        return std::string(detail.substr(0, BridgeCommandProcessor::maximumDetailCharacters));
    }
}

} // namespace

BridgeCommandProcessor::BridgeCommandProcessor(std::shared_ptr<BridgePreferences> preferences,
                                               std::unique_ptr<OSCForwarder> oscForwarder,
                                               std::unique_ptr<VirtualMIDISource> midiSource,
                                               std::unique_ptr<CommandLedger> ledger)
    : preferences_(std::move(preferences)), oscForwarder_(std::move(oscForwarder)),
      midiSource_(std::move(midiSource)), ledger_(std::move(ledger)),
      maximumInsertions_(ledger_->tombstones().maximumInsertions()),
      insertionCount_(ledger_->tombstones().insertionCount()) {}

LedgerFill BridgeCommandProcessor::ledgerFill() const noexcept {
    return LedgerFill{insertionCount_.load(std::memory_order_relaxed), maximumInsertions_};
}

TessaroBridgeAcknowledgement BridgeCommandProcessor::unavailable(const Uuid& commandID) noexcept {
    return rejected(commandID, unavailableDetail);
}

TessaroBridgeAcknowledgement BridgeCommandProcessor::rejected(const Uuid& commandID,
                                                              std::string_view detail) noexcept {
    return acknowledgement(commandID, TessaroBridgeAckStatus::rejected, cutDetail(detail));
}

TessaroBridgeAcknowledgement
BridgeCommandProcessor::handle(const TessaroBridgeCommand& command) noexcept {
    return handleAll(std::span(&command, 1)).front();
}

std::vector<TessaroBridgeAcknowledgement>
BridgeCommandProcessor::handleAll(std::span<const TessaroBridgeCommand> commands) noexcept {
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
        handleDistinct(
            commands, std::span(distinct).subspan(start, std::min(window, distinct.size() - start)),
            answers);
    }
    for (const std::size_t i : repeats) {
        answers[i] = handle(commands[i]);
    }
    const LedgerFill before = ledgerFill();
    insertionCount_.store(ledger_->tombstones().insertionCount(), std::memory_order_relaxed);
    if (ledgerFill().percent() != before.percent() && onLedgerFillChange) {
        onLedgerFillChange();
    }
    return answers;
}

void BridgeCommandProcessor::handleDistinct(std::span<const TessaroBridgeCommand> commands,
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

TessaroBridgeAcknowledgement BridgeCommandProcessor::answerForKnown(const Uuid& commandID,
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

void BridgeCommandProcessor::execute(const TessaroBridgePayload& payload) {
    if (const auto* address = payload.oscAddress()) {
        oscForwarder_->send(*address, preferences_->oscConfiguration());
    } else if (const auto* bytes = payload.midiBytes()) {
        midiSource_->send(*bytes);
    }
}

} // namespace varnello
