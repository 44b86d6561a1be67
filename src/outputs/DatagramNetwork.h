#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace varnello {

// One resolved address to try, as name resolution returned it.
struct DatagramDestination {
    int family = 0;
    int socketType = 0;
    int protocol = 0;
    sockaddr_storage address{};
    socklen_t addressLength = 0;
};

// Name resolution and UDP sockets, as the OSC forwarder uses them.
// Implementations hold no state between calls. Thread-safe.
class DatagramNetwork {
public:
    virtual ~DatagramNetwork() = default;

    // The entries for host and decimal port, in the resolver's order; nothing
    // when the resolver fails or finds no entry.
    virtual std::optional<std::vector<DatagramDestination>> resolve(const std::string& host,
                                                                    const std::string& port) = 0;
    // A socket descriptor, or -errno.
    virtual int openSocket(int family, int socketType, int protocol) = 0;
    // The number of bytes sent, or -errno.
    virtual long sendTo(int socket, std::span<const std::uint8_t> datagram,
                        const DatagramDestination& destination) = 0;
    virtual void closeSocket(int socket) noexcept = 0;
};

} // namespace varnello
