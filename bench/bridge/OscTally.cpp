#include "OscTally.h"

#include "BridgeLoadError.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace varnello::bench {

OscTally::OscTally() {
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // Room for a whole round's datagrams should this thread be descheduled.
    const int bufferBytes = 4 << 20;
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(socket_);
        throw BridgeLoadError(BridgeLoadError::Code::oscReceiver);
    }
    port_ = ntohs(address.sin_port);
    receiver_ = std::thread([this] { receive(); });
}

OscTally::~OscTally() {
    stopping_ = true;
    receiver_.join();
    ::close(socket_);
}

void OscTally::receive() {
    std::vector<char> datagram(65536);
    while (!stopping_) {
        pollfd descriptor{socket_, POLLIN, 0};
        if (::poll(&descriptor, 1, 100) != 1) {
            continue;
        }
        const ssize_t received = ::recv(socket_, datagram.data(), datagram.size(), 0);
        if (received <= 0) {
            continue;
        }
        // An OSC message starts with its address, ended by a NUL.
        std::string address(datagram.data(), static_cast<std::size_t>(received));
        address.resize(address.find('\0') == std::string::npos ? address.size()
                                                               : address.find('\0'));
        std::lock_guard lock(mutex_);
        ++counts_[address];
        ++total_;
    }
}

void OscTally::awaitTotal(std::size_t count, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (total() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::size_t OscTally::total() {
    std::lock_guard lock(mutex_);
    return total_;
}

std::map<std::string, int> OscTally::counts() {
    std::lock_guard lock(mutex_);
    return counts_;
}

} // namespace varnello::bench
