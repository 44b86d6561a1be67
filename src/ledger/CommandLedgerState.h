#pragma once

#include <optional>
#include <string_view>

namespace varnello {

// What the ledger knows of one command identifier. The raw values are stored in
// the ledger file as they are.
enum class CommandLedgerState {
    accepted, // reserved; execution may or may not have happened
    executed,
    failed,
};

std::string_view rawValue(CommandLedgerState state) noexcept;

// Exact match only: "Executed" is no state.
std::optional<CommandLedgerState> commandLedgerStateFromRawValue(std::string_view text) noexcept;

} // namespace varnello
