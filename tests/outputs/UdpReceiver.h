#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace varnello::test {

// A UDP socket bound to a loopback address on a port the system picks.
class UdpReceiver {
public:
    // 127.0.0.1 or ::1. Throws when the address cannot be bound. A receive buffer
    // size, when given, holds a burst while the reader is not scheduled.
    explicit UdpReceiver(int family, int receiveBufferBytes = 0) {
        socket_ = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (socket_ < 0) {
            throw std::runtime_error("socket");
        }
        if (receiveBufferBytes > 0) {
            ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes,
                         sizeof receiveBufferBytes);
        }
        sockaddr_storage storage{};
        socklen_t length = 0;
        if (family == AF_INET) {
            auto& address = reinterpret_cast<sockaddr_in&>(storage);
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof(sockaddr_in);
        } else {
            auto& address = reinterpret_cast<sockaddr_in6&>(storage);
            address.sin6_family = AF_INET6;
            address.sin6_addr = in6addr_loopback;
            length = sizeof(sockaddr_in6);
        }
        if (::bind(socket_, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
            ::close(socket_);
            throw std::runtime_error("bind");
        }
        port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in&>(storage).sin_port
                                        : reinterpret_cast<sockaddr_in6&>(storage).sin6_port);
    }

    ~UdpReceiver() { ::close(socket_); }

    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    std::uint16_t port() const noexcept { return port_; }

    // The next datagram, or nothing when none comes within the wait.
    std::optional<std::vector<std::uint8_t>> receive(int waitMilliseconds = 5000) const {
        pollfd descriptor{socket_, POLLIN, 0};
        if (::poll(&descriptor, 1, waitMilliseconds) != 1) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> datagram(65536);
        const ssize_t received = ::recv(socket_, datagram.data(), datagram.size(), 0);
        if (received < 0) {
            return std::nullopt;
        }
        datagram.resize(static_cast<std::size_t>(received));
        return datagram;
    }

private:
    int socket_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace varnello::test
