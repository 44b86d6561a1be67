#include "core/BridgeCommandProcessor.h"

#include "support/PrefixCharacters.h"

#include <exception>
#include <optional>
#include <string>
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
      midiSource_(std::move(midiSource)), ledger_(std::move(ledger)) {}

TessaroBridgeAcknowledgement BridgeCommandProcessor::unavailable(const Uuid& commandID) noexcept {
    return rejected(commandID, unavailableDetail);
}

TessaroBridgeAcknowledgement BridgeCommandProcessor::rejected(const Uuid& commandID,
                                                              std::string_view detail) noexcept {
    return acknowledgement(commandID, TessaroBridgeAckStatus::rejected, cutDetail(detail));
}

TessaroBridgeAcknowledgement
BridgeCommandProcessor::handle(const TessaroBridgeCommand& command) noexcept {
    std::optional<CommandLedgerState> earlier;
    try {
        earlier = ledger_->reserve(command.id);
    } catch (const std::exception& error) {
        return rejected(command.id, error.what());
    }
    if (earlier) {
        switch (*earlier) {
        case CommandLedgerState::accepted:
            return rejected(command.id, uncertainDetail);
        case CommandLedgerState::executed:
            return acknowledgement(command.id, TessaroBridgeAckStatus::duplicate,
                                   std::string(duplicateDetail));
        case CommandLedgerState::failed:
            return rejected(command.id, failedBeforeDetail);
        }
        // Whatever else a known identifier could hold, running it again is worse.
        return rejected(command.id, uncertainDetail);
    }
    try {
        execute(command.payload);
        ledger_->record(command.id, CommandLedgerState::executed);
        return acknowledgement(command.id, TessaroBridgeAckStatus::accepted, std::nullopt);
    } catch (const std::exception& error) {
        // The reason sent is the first failure; a failure to note it is not news.
        try {
            ledger_->record(command.id, CommandLedgerState::failed);
        } catch (const std::exception&) {
        }
        return rejected(command.id, error.what());
    }
}

void BridgeCommandProcessor::execute(const TessaroBridgePayload& payload) {
    if (const auto* address = payload.oscAddress()) {
        oscForwarder_->send(*address, preferences_->oscConfiguration());
    } else if (const auto* bytes = payload.midiBytes()) {
        midiSource_->send(*bytes);
    }
}

} // namespace varnello
