#include "outputs/SystemDatagramNetwork.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <unistd.h>

namespace varnello {
namespace {

struct AddressListFree {
    void operator()(addrinfo* list) const noexcept { freeaddrinfo(list); }
};

} // namespace

std::optional<std::vector<DatagramDestination>>
SystemDatagramNetwork::resolve(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_flags = AI_ADDRCONFIG;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* rawList = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &rawList) != 0) {
        return std::nullopt;
    }
    const std::unique_ptr<addrinfo, AddressListFree> list(rawList);
    std::vector<DatagramDestination> destinations;
    for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_addr == nullptr || entry->ai_addrlen > sizeof(sockaddr_storage)) {
            continue;
        }
        DatagramDestination destination;
        destination.family = entry->ai_family;
        destination.socketType = entry->ai_socktype;
        destination.protocol = entry->ai_protocol;
        std::memcpy(&destination.address, entry->ai_addr, entry->ai_addrlen);
        destination.addressLength = entry->ai_addrlen;
        destinations.push_back(destination);
    }
    if (destinations.empty()) {
        return std::nullopt;
    }
    return destinations;
}

int SystemDatagramNetwork::openSocket(int family, int socketType, int protocol) {
    const int socket = ::socket(family, socketType | SOCK_CLOEXEC, protocol);
    return socket >= 0 ? socket : -errno;
}

long SystemDatagramNetwork::sendTo(int socket, std::span<const std::uint8_t> datagram,
                                   const DatagramDestination& destination) {
    const ssize_t sent = ::sendto(socket, datagram.data(), datagram.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&destination.address),
                                  destination.addressLength);
    return sent >= 0 ? static_cast<long>(sent) : -errno;
}

void SystemDatagramNetwork::closeSocket(int socket) noexcept {
    ::close(socket);
}

} // namespace varnello
