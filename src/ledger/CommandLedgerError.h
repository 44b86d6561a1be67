#pragma once

#include <exception>
#include <string_view>

namespace varnello {

// Every failure of the command ledger that a caller may show to a user. Thrown as an
// exception; a plain value otherwise. Thread-safe.
class CommandLedgerError : public std::exception {
public:
    enum class Code {
        unsupportedOrDamagedFormat,
        unknownReservation,
        legacyHistoryMayBeIncomplete,
        saturated,
        storageUnavailable,
    };

    static CommandLedgerError unsupportedOrDamagedFormat() noexcept {
        return CommandLedgerError(Code::unsupportedOrDamagedFormat);
    }
    static CommandLedgerError unknownReservation() noexcept {
        return CommandLedgerError(Code::unknownReservation);
    }
    static CommandLedgerError legacyHistoryMayBeIncomplete() noexcept {
        return CommandLedgerError(Code::legacyHistoryMayBeIncomplete);
    }
    static CommandLedgerError saturated() noexcept { return CommandLedgerError(Code::saturated); }
    static CommandLedgerError storageUnavailable() noexcept {
        return CommandLedgerError(Code::storageUnavailable);
    }

    Code code() const noexcept { return code_; }
    std::string_view message() const noexcept;
    const char* what() const noexcept override;

    friend bool operator==(const CommandLedgerError& a, const CommandLedgerError& b) noexcept {
        return a.code_ == b.code_;
    }

private:
    explicit CommandLedgerError(Code code) noexcept : code_(code) {}

    Code code_;
};

} // namespace varnello
