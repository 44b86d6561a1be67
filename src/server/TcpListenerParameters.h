#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace varnello {

struct TcpKeepalive {
    std::chrono::seconds idle{30};
    std::chrono::seconds interval{10};
    int count = 3;

    friend bool operator==(const TcpKeepalive&, const TcpKeepalive&) = default;
};

struct TcpEndpoint {
    std::string host; // a numeric address
    std::uint16_t port = 0;

    friend bool operator==(const TcpEndpoint&, const TcpEndpoint&) = default;
};

// What a listener is created with. Without a required local endpoint the
// listener takes every address, IPv4 and IPv6, on `localPort`, or on a port the
// system chooses when that is absent.
struct TcpListenerParameters {
    std::optional<TcpKeepalive> keepalive; // for accepted connections
    bool allowLocalEndpointReuse = false;
    std::optional<TcpEndpoint> requiredLocalEndpoint;
    std::optional<std::uint16_t> localPort = std::nullopt;

    friend bool operator==(const TcpListenerParameters&, const TcpListenerParameters&) = default;
};

} // namespace varnello
