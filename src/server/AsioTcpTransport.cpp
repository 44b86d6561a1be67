#include "server/AsioTcpTransport.h"

#include "server/AsioTcpListener.h"

#include <cerrno>

namespace varnello {

namespace {

// The limits Linux puts on the keepalive socket options.
constexpr long maximumKeepaliveSeconds = 32767;
constexpr int maximumKeepaliveCount = 127;

void checkKeepalive(const TcpKeepalive& keepalive) {
    auto inRange = [](long value, long maximum) { return value >= 1 && value <= maximum; };
    if (!inRange(keepalive.idle.count(), maximumKeepaliveSeconds) ||
        !inRange(keepalive.interval.count(), maximumKeepaliveSeconds)) {
        throw TransportError(EINVAL, "TCP keepalive times must be between 1 and 32767 seconds.");
    }
    if (!inRange(keepalive.count, maximumKeepaliveCount)) {
        throw TransportError(EINVAL, "The TCP keepalive count must be between 1 and 127.");
    }
}

} // namespace

AsioTcpTransport::AsioTcpTransport(asio::io_context& context) : context_(context) {}

std::shared_ptr<TcpListener>
AsioTcpTransport::makeListener(const TcpListenerParameters& parameters) {
    if (parameters.keepalive) {
        checkKeepalive(*parameters.keepalive);
    }
    std::optional<asio::ip::tcp::endpoint> requiredEndpoint;
    if (parameters.requiredLocalEndpoint) {
        std::error_code error;
        const auto address = asio::ip::make_address(parameters.requiredLocalEndpoint->host, error);
        if (error) {
            throw TransportError(EINVAL, "\u2018" + parameters.requiredLocalEndpoint->host +
                                             "\u2019 is not a numeric IP address.");
        }
        requiredEndpoint.emplace(address, parameters.requiredLocalEndpoint->port);
    }
    return std::make_shared<AsioTcpListener>(context_, parameters, requiredEndpoint);
}

} // namespace varnello
