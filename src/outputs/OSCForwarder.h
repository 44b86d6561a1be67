#pragma once

#include "outputs/DatagramNetwork.h"
#include "outputs/OSCForwardingConfiguration.h"

#include <memory>
#include <string_view>

namespace varnello {

// Sends each OSC address as one OSC 1.0 message without arguments in one UDP
// datagram. Keeps nothing between messages: every send resolves the host and
// opens its own socket. Called on the server queue; thread-safe, as it holds
// no state.
class OSCForwarder {
public:
    // Over the system's resolver and sockets.
    OSCForwarder();
    explicit OSCForwarder(std::unique_ptr<DatagramNetwork> network);

    // Blocks while the host is resolved and the datagram handed over. Throws
    // OSCForwarderError (disabled, tested first; cannotResolve; sendFailed) or
    // the TessaroBridgeWireError of an invalid address.
    void send(std::string_view address, const OSCForwardingConfiguration& configuration) const;

private:
    std::unique_ptr<DatagramNetwork> network_;
};

} // namespace varnello
