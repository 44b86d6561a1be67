#pragma once

#include <exception>
#include <string>

namespace varnello {

// A failure of the DNS-SD facility: its error number and its own text.
class DnsServiceError : public std::exception {
public:
    DnsServiceError(int errorNumber, std::string text);

    int errorNumber() const noexcept { return errorNumber_; }
    const std::string& text() const noexcept { return text_; }
    // "Avahi error {number}: {text}".
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    friend bool operator==(const DnsServiceError& a, const DnsServiceError& b) {
        return a.errorNumber_ == b.errorNumber_ && a.text_ == b.text_;
    }

private:
    int errorNumber_;
    std::string text_;
    std::string message_;
};

} // namespace varnello
