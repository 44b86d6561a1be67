#include "LoadIPad.h"

#include "BridgeLoadError.h"
#include "protocol/TessaroBridgeFrameCodec.h"
#include "protocol/TessaroBridgeHello.h"
#include "support/LoopbackConnection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varnello::bench {

namespace {

// The hello, read blocking: the socket's time-out bounds each read.
bool receiveHello(int socket, TessaroBridgeFrameDecoder& decoder) {
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return false;
        }
        try {
            const auto messages = decoder.append({buffer, static_cast<std::size_t>(got)});
            if (!messages.empty()) {
                return messages.size() == 1 &&
                       messages.front().bodyIf<TessaroBridgeHello>() != nullptr;
            }
        } catch (const std::exception&) {
            return false;
        }
    }
}

} // namespace

LoadIPad::LoadIPad(std::uint16_t port, const std::string& peerID) {
    socket_ = testing::connectToLoopback(port, std::chrono::seconds(10), std::chrono::seconds(10));
    if (socket_ < 0) {
        throw BridgeLoadError(BridgeLoadError::Code::connect);
    }
    // An iPad sends each command as soon as it has one.
    const int one = 1;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (!receiveHello(socket_, decoder_)) {
        ::close(socket_);
        throw BridgeLoadError(BridgeLoadError::Code::noHello);
    }
    try {
        sendBytes(encodeFrame(TessaroBridgeHello::make(TessaroBridgePeerRole::tessaro, 1, peerID,
                                                       "Load " + peerID,
                                                       {TessaroBridgeCapability::osc})));
    } catch (...) {
        ::close(socket_);
        throw;
    }
    ::fcntl(socket_, F_SETFL, ::fcntl(socket_, F_GETFL) | O_NONBLOCK);
}

LoadIPad::~LoadIPad() {
    ::close(socket_);
}

void LoadIPad::send(const TessaroBridgeCommand& command) {
    sendBytes(encodeFrame(command));
}

void LoadIPad::sendBytes(const std::vector<std::uint8_t>& bytes) {
    if (::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(bytes.size())) {
        throw BridgeLoadError(BridgeLoadError::Code::send);
    }
}

std::vector<TessaroBridgeMessage> LoadIPad::readAvailable() {
    std::vector<TessaroBridgeMessage> messages;
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return messages;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            throw BridgeLoadError(BridgeLoadError::Code::closed);
        }
        try {
            auto more = decoder_.append({buffer, static_cast<std::size_t>(got)});
            messages.insert(messages.end(), std::make_move_iterator(more.begin()),
                            std::make_move_iterator(more.end()));
        } catch (const std::exception&) {
            throw BridgeLoadError(BridgeLoadError::Code::unexpectedAnswer);
        }
    }
}

} // namespace varnello::bench
