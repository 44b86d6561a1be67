#pragma once

#include "outputs/DatagramNetwork.h"

namespace varnello {

// getaddrinfo and BSD sockets. Resolution asks for UDP datagram entries of
// any family, limited to the families configured on this computer
// (AI_ADDRCONFIG). Sockets are blocking, neither bound nor connected, and
// closed on exec. Thread-safe.
class SystemDatagramNetwork final : public DatagramNetwork {
public:
    std::optional<std::vector<DatagramDestination>> resolve(const std::string& host,
                                                            const std::string& port) override;
    int openSocket(int family, int socketType, int protocol) override;
    long sendTo(int socket, std::span<const std::uint8_t> datagram,
                const DatagramDestination& destination) override;
    void closeSocket(int socket) noexcept override;
};

} // namespace varnello
