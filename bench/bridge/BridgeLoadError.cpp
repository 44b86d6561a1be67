#include "BridgeLoadError.h"

namespace varnello::bench {

std::string_view BridgeLoadError::message() const noexcept {
    switch (code_) {
    case Code::spawn:
        return "Could not start the bridge program.";
    case Code::notReady:
        return "The bridge did not report a TCP port within 10 seconds.";
    case Code::connect:
        return "An iPad could not connect to the bridge on 127.0.0.1.";
    case Code::noHello:
        return "The bridge's hello did not arrive within 10 seconds.";
    case Code::send:
        return "An iPad could not send its frame.";
    case Code::noAcknowledgement:
        return "An acknowledgement did not arrive within 10 seconds.";
    case Code::wrongAnswer:
        return "An acknowledgement named another command or had an unexpected status.";
    case Code::unexpectedAnswer:
        return "The bridge sent a message that no command waited for, or one that could not be "
               "decoded.";
    case Code::closed:
        return "The bridge closed an iPad's connection.";
    case Code::missingDatagram:
        return "A command's OSC datagram did not arrive within 10 seconds.";
    case Code::repeatedDatagram:
        return "A command's OSC datagram arrived twice.";
    case Code::unexpectedDatagram:
        return "An OSC datagram arrived that no command sent in this batch asked for.";
    case Code::clientCount:
        return "The bridge did not log the expected number of iPads within 10 seconds.";
    case Code::stop:
        return "The bridge did not exit within 10 seconds of SIGTERM.";
    case Code::exitStatus:
        return "The bridge exited with a nonzero status on SIGTERM.";
    case Code::ledgerFiles:
        return "The ledger files are missing or cannot be read.";
    case Code::ledgerFill:
        return "The full ledger for the start-up measurement could not be built.";
    case Code::receiver:
        return "The UDP receiver on 127.0.0.1 could not be opened.";
    case Code::poll:
        return "Waiting on the iPads' sockets failed.";
    }
    return "Unknown failure.";
}

const char* BridgeLoadError::what() const noexcept {
    return message().data();
}

} // namespace varnello::bench
