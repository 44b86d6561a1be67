#pragma once

#include <stdexcept>
#include <string>

namespace varnello {

// A failure of the TCP transport. Its description is shown to users as is
// (server state texts), so it is a readable sentence, e.g. the errno text.
class TransportError : public std::runtime_error {
public:
    TransportError(int errorNumber, const std::string& description)
        : std::runtime_error(description), errorNumber_(errorNumber) {}

    int errorNumber() const noexcept { return errorNumber_; }
    std::string description() const { return what(); }

    friend bool operator==(const TransportError& a, const TransportError& b) {
        return a.errorNumber_ == b.errorNumber_ && std::string(a.what()) == b.what();
    }

private:
    int errorNumber_;
};

} // namespace varnello
