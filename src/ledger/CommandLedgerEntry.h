#pragma once

#include "ledger/CommandLedgerState.h"
#include "support/Uuid.h"

namespace varnello {

// One recent reservation: a command identifier and what became of it. A plain value
// (also reachable as CommandLedger::Entry).
struct CommandLedgerEntry {
    Uuid id;
    CommandLedgerState state = CommandLedgerState::accepted;

    friend bool operator==(const CommandLedgerEntry&, const CommandLedgerEntry&) = default;
};

} // namespace varnello
