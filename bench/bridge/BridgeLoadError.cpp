#include "BridgeLoadError.h"

namespace varnello::bench {

std::string_view BridgeLoadError::message() const noexcept {
    switch (code_) {
    case Code::spawn:
        return "Could not start varnello-bridge.";
    case Code::notReady:
        return "varnello-bridge did not report a TCP port within 15 seconds.";
    case Code::connect:
        return "An iPad could not connect to the bridge on 127.0.0.1.";
    case Code::noHello:
        return "The bridge's hello did not arrive within 10 seconds.";
    case Code::send:
        return "An iPad could not send its frame.";
    case Code::noAcknowledgement:
        return "An acknowledgement did not arrive within 10 seconds, or named another command.";
    case Code::clientCount:
        return "The bridge did not log the expected number of iPads within 10 seconds.";
    case Code::stop:
        return "varnello-bridge did not exit within 10 seconds of SIGTERM.";
    case Code::ledgerFiles:
        return "The ledger files are missing after the run.";
    }
    return "Unknown failure.";
}

const char* BridgeLoadError::what() const noexcept {
    return message().data();
}

} // namespace varnello::bench
