#pragma once

#include <exception>
#include <string_view>

namespace varnello::bench {

// Every reason the load report stops before it has its figures.
class BridgeLoadError : public std::exception {
public:
    enum class Code {
        spawn,
        notReady,
        connect,
        noHello,
        send,
        noAcknowledgement,
        wrongAnswer,
        unexpectedAnswer,
        closed,
        missingDatagram,
        repeatedDatagram,
        unexpectedDatagram,
        clientCount,
        stop,
        exitStatus,
        ledgerFiles,
        ledgerFill,
        receiver,
        poll,
    };

    explicit BridgeLoadError(Code code) noexcept : code_(code) {}

    Code code() const noexcept { return code_; }
    std::string_view message() const noexcept;
    const char* what() const noexcept override;

private:
    Code code_;
};

} // namespace varnello::bench
