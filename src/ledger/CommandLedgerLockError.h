#pragma once

#include <exception>
#include <string_view>

namespace varnello {

// Refusal to open a command ledger whose files another process is using: two
// writers would each keep their own history and overwrite the other's, so a command
// could run twice. Thread-safe.
class CommandLedgerLockError : public std::exception {
public:
    enum class Code {
        alreadyInUse,
    };

    static CommandLedgerLockError alreadyInUse() noexcept {
        return CommandLedgerLockError(Code::alreadyInUse);
    }

    Code code() const noexcept { return code_; }
    std::string_view message() const noexcept;
    const char* what() const noexcept override;

    friend bool operator==(const CommandLedgerLockError& a,
                           const CommandLedgerLockError& b) noexcept {
        return a.code_ == b.code_;
    }

private:
    explicit CommandLedgerLockError(Code code) noexcept : code_(code) {}

    Code code_;
};

} // namespace varnello
