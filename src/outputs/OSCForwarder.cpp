#include "outputs/OSCForwarder.h"

#include "outputs/OSCForwarderError.h"
#include "outputs/SystemDatagramNetwork.h"
#include "protocol/TessaroBridgeValidation.h"

#include <cassert>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

namespace varnello {
namespace {

// An OSC 1.0 string: the bytes, one zero byte, zero bytes to a multiple of 4.
void appendOSCString(std::vector<std::uint8_t>& datagram, std::string_view text) {
    datagram.insert(datagram.end(), text.begin(), text.end());
    const std::size_t padding = 4 - text.size() % 4;
    datagram.insert(datagram.end(), padding, 0);
}

std::vector<std::uint8_t> oscMessageWithoutArguments(std::string_view address) {
    std::vector<std::uint8_t> datagram;
    datagram.reserve(address.size() + 8);
    appendOSCString(datagram, address);
    appendOSCString(datagram, ",");
    return datagram;
}

class SocketCloser {
public:
    SocketCloser(DatagramNetwork& network, int socket) noexcept
        : network_(network), socket_(socket) {}
    ~SocketCloser() { network_.closeSocket(socket_); }

    SocketCloser(const SocketCloser&) = delete;
    SocketCloser& operator=(const SocketCloser&) = delete;

private:
    DatagramNetwork& network_;
    int socket_;
};

} // namespace

OSCForwarder::OSCForwarder() : OSCForwarder(std::make_unique<SystemDatagramNetwork>()) {}

OSCForwarder::OSCForwarder(std::unique_ptr<DatagramNetwork> network)
    : network_(std::move(network)) {
    assert(network_);
}

void OSCForwarder::send(std::string_view address,
                        const OSCForwardingConfiguration& configuration) const {
    if (!configuration.isEnabled) {
        throw OSCForwarderError::disabled();
    }
    validateOSCAddress(address);
    const std::vector<std::uint8_t> datagram = oscMessageWithoutArguments(address);

    const auto destinations =
        network_->resolve(configuration.host, std::to_string(configuration.port));
    if (!destinations) {
        throw OSCForwarderError::cannotResolve(configuration.host);
    }
    int lastError = 0;
    for (const DatagramDestination& destination : *destinations) {
        const int socket =
            network_->openSocket(destination.family, destination.socketType, destination.protocol);
        if (socket < 0) {
            lastError = -socket;
            continue;
        }
        const SocketCloser closer(*network_, socket);
        const long sent = network_->sendTo(socket, datagram, destination);
        if (sent == static_cast<long>(datagram.size())) {
            return;
        }
        // A datagram that left in part is as lost as one refused.
        lastError = sent < 0 ? static_cast<int>(-sent) : EMSGSIZE;
    }
    throw OSCForwarderError::sendFailed(lastError);
}

} // namespace varnello
