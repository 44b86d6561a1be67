#pragma once

#include <exception>
#include <string>

namespace varnello {

// Why preferences were not saved: a rejected host or port, or a preferences file
// that could not be written (its errno value); or why a stored iPad port cannot
// be used (the value as stored). Thread-safe (a plain value).
class BridgePreferencesError : public std::exception {
public:
    enum class Code { invalidHost, invalidPort, saveFailed, invalidIPadPort };

    static BridgePreferencesError invalidHost();
    static BridgePreferencesError invalidPort();
    static BridgePreferencesError saveFailed(int errorNumber);
    // `storedValue`: the value under "iPadPort" as JSON text.
    static BridgePreferencesError invalidIPadPort(std::string storedValue);

    Code code() const noexcept { return code_; }
    // The errno value of saveFailed, 0 for the other cases.
    int errorNumber() const noexcept { return errorNumber_; }
    // The stored value of invalidIPadPort, empty for the other cases.
    const std::string& storedValue() const noexcept { return storedValue_; }
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    friend bool operator==(const BridgePreferencesError& a,
                           const BridgePreferencesError& b) noexcept {
        return a.code_ == b.code_ && a.errorNumber_ == b.errorNumber_ &&
               a.storedValue_ == b.storedValue_;
    }

private:
    BridgePreferencesError(Code code, int errorNumber, std::string storedValue = {});

    Code code_;
    int errorNumber_;
    std::string storedValue_;
    std::string message_;
};

} // namespace varnello
