#include "ledger/CommandLedgerState.h"

namespace varnello {

std::string_view rawValue(CommandLedgerState state) noexcept {
    switch (state) {
    case CommandLedgerState::accepted:
        return "accepted";
    case CommandLedgerState::executed:
        return "executed";
    case CommandLedgerState::failed:
        return "failed";
    }
    return "accepted";
}

std::optional<CommandLedgerState> commandLedgerStateFromRawValue(std::string_view text) noexcept {
    for (auto state :
         {CommandLedgerState::accepted, CommandLedgerState::executed, CommandLedgerState::failed}) {
        if (text == rawValue(state)) {
            return state;
        }
    }
    return std::nullopt;
}

} // namespace varnello
