#include "ledger/CommandLedgerLockError.h"

namespace varnello {

namespace {

const char* text(CommandLedgerLockError::Code code) noexcept {
    switch (code) {
    case CommandLedgerLockError::Code::alreadyInUse:
        break;
    }
    return "Varnello Bridge is already running: another Varnello Bridge is already using the "
           "command ledger.";
}

} // namespace

std::string_view CommandLedgerLockError::message() const noexcept {
    return text(code_);
}

const char* CommandLedgerLockError::what() const noexcept {
    return text(code_);
}

} // namespace varnello
