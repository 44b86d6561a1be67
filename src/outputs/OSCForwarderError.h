#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace varnello {

// Why an OSC message was not sent. Thread-safe (a plain value).
class OSCForwarderError : public std::exception {
public:
    enum class Code { cannotResolve, sendFailed, disabled };

    static OSCForwarderError cannotResolve(std::string host);
    static OSCForwarderError sendFailed(std::int32_t errorNumber);
    static OSCForwarderError disabled();

    Code code() const noexcept { return code_; }
    // The associated values; empty or 0 for a case that does not carry them.
    const std::string& host() const noexcept { return host_; }
    std::int32_t errorNumber() const noexcept { return errorNumber_; }

    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    friend bool operator==(const OSCForwarderError& a, const OSCForwarderError& b) noexcept {
        return a.code_ == b.code_ && a.host_ == b.host_ && a.errorNumber_ == b.errorNumber_;
    }

private:
    OSCForwarderError(Code code, std::string host, std::int32_t errorNumber);

    Code code_;
    std::string host_;
    std::int32_t errorNumber_;
    std::string message_;
};

} // namespace varnello
