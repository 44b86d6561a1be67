#include "support/LoopbackConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varnello::testing {

namespace {

void setTimeout(int descriptor, int option, std::chrono::seconds timeout) {
    if (timeout.count() > 0) {
        const timeval value{static_cast<time_t>(timeout.count()), 0};
        ::setsockopt(descriptor, SOL_SOCKET, option, &value, sizeof value);
    }
}

} // namespace

int connectToLoopback(std::uint16_t port, std::chrono::seconds receiveTimeout,
                      std::chrono::seconds sendTimeout) {
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        return -1;
    }
    setTimeout(descriptor, SO_RCVTIMEO, receiveTimeout);
    setTimeout(descriptor, SO_SNDTIMEO, sendTimeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

} // namespace varnello::testing
