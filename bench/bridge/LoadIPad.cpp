#include "LoadIPad.h"

#include "BridgeLoadError.h"
#include "protocol/TessaroBridgeFrameCodec.h"
#include "protocol/TessaroBridgeHello.h"

#include <arpa/inet.h>
#include <exception>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace varnello::bench {

LoadIPad::LoadIPad(std::uint16_t port, const std::string& peerID) {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval timeout{10, 0};
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    // An iPad sends each command as soon as it has one.
    const int one = 1;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket_);
        throw BridgeLoadError(BridgeLoadError::Code::connect);
    }
    const auto hello = receive();
    if (!hello || hello->bodyIf<TessaroBridgeHello>() == nullptr) {
        ::close(socket_);
        throw BridgeLoadError(BridgeLoadError::Code::noHello);
    }
    try {
        sendMessage(TessaroBridgeHello::make(TessaroBridgePeerRole::tessaro, 1, peerID,
                                             "Load " + peerID, {TessaroBridgeCapability::osc}));
    } catch (...) {
        ::close(socket_);
        throw;
    }
}

LoadIPad::~LoadIPad() {
    ::close(socket_);
}

void LoadIPad::send(const TessaroBridgeCommand& command) {
    sendMessage(command);
}

TessaroBridgeAcknowledgement LoadIPad::receiveAcknowledgement() {
    const auto message = receive();
    const auto* acknowledgement =
        message ? message->bodyIf<TessaroBridgeAcknowledgement>() : nullptr;
    if (acknowledgement == nullptr) {
        throw BridgeLoadError(BridgeLoadError::Code::noAcknowledgement);
    }
    return *acknowledgement;
}

void LoadIPad::sendMessage(const TessaroBridgeMessage& message) {
    const auto bytes = encodeFrame(message);
    if (::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(bytes.size())) {
        throw BridgeLoadError(BridgeLoadError::Code::send);
    }
}

std::optional<TessaroBridgeMessage> LoadIPad::receive() {
    std::uint8_t prefix[4];
    if (!readExactly(prefix, sizeof prefix)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> payload((std::size_t{prefix[0]} << 24) |
                                      (std::size_t{prefix[1]} << 16) |
                                      (std::size_t{prefix[2]} << 8) | prefix[3]);
    if (!readExactly(payload.data(), payload.size())) {
        return std::nullopt;
    }
    try {
        return decodeMessage(payload);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool LoadIPad::readExactly(std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::recv(socket_, bytes + done, count - done, 0);
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace varnello::bench
