#pragma once

#include "ledger/CommandLedgerError.h"
#include "ledger/CommandLedgerState.h"

#include <optional>

namespace varnello {

// What reserving one identifier of a batch gave. No error and no earlier state: the
// identifier is new and now stored as accepted, so its payload may run. A plain value.
struct CommandReservation {
    std::optional<CommandLedgerState> earlierState;
    // Set when the identifier could not be reserved; its payload must not run.
    std::optional<CommandLedgerError> error;

    bool isNew() const noexcept { return !earlierState && !error; }

    friend bool operator==(const CommandReservation&, const CommandReservation&) = default;
};

} // namespace varnello
