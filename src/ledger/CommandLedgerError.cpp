#include "ledger/CommandLedgerError.h"

namespace varnello {

namespace {

const char* text(CommandLedgerError::Code code) noexcept {
    switch (code) {
    case CommandLedgerError::Code::unsupportedOrDamagedFormat:
        return "The command ledger has an unknown or corrupted format.";
    case CommandLedgerError::Code::unknownReservation:
        return "The Bridge command is not reserved.";
    case CommandLedgerError::Code::legacyHistoryMayBeIncomplete:
        return "The legacy command ledger reached its retention limit; earlier command IDs may be "
               "missing.";
    case CommandLedgerError::Code::saturated:
        return "The command ledger reached its safe capacity limit.";
    case CommandLedgerError::Code::storageUnavailable:
        return "Could not save the command ledger safely.";
    }
    return "Could not save the command ledger safely.";
}

} // namespace

std::string_view CommandLedgerError::message() const noexcept {
    return text(code_);
}

const char* CommandLedgerError::what() const noexcept {
    return text(code_);
}

} // namespace varnello
