#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace varnello {

// Why the bridge's identity could not be produced. The status is the key store's
// code: a negative errno value, or 0 for an item that exists but is unusable.
// Thread-safe (a plain value).
class BridgeIdentityError : public std::exception {
public:
    enum class Code { keychain };

    static BridgeIdentityError keychain(std::int32_t status);

    Code code() const noexcept { return code_; }
    std::int32_t status() const noexcept { return status_; }
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    friend bool operator==(const BridgeIdentityError& a, const BridgeIdentityError& b) noexcept {
        return a.code_ == b.code_ && a.status_ == b.status_;
    }

private:
    BridgeIdentityError(Code code, std::int32_t status);

    Code code_;
    std::int32_t status_;
    std::string message_;
};

} // namespace varnello
