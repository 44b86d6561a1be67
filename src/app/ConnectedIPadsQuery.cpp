#include "app/ConnectedIPadsQuery.h"

#include "protocol/TessaroBridgeFrameCodec.h"
#include "protocol/TessaroBridgeFrameDecoder.h"
#include "protocol/TessaroBridgeMessage.h"
#include "server/BridgeServer.h"
#include "support/Uuid.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varnello {

namespace {

using Clock = std::chrono::steady_clock;

// Closes the socket on every way out.
class Socket {
public:
    Socket() : descriptor_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {}
    ~Socket() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int descriptor() const noexcept { return descriptor_; }

private:
    int descriptor_;
};

// Waits until the socket is ready for `events` or the deadline passes.
bool waitFor(int descriptor, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd entry{descriptor, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

bool sendAll(int descriptor, const std::vector<std::uint8_t>& bytes, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t written =
            ::send(descriptor, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
        } else if ((written < 0 && errno != EAGAIN && errno != EINTR) ||
                   !waitFor(descriptor, POLLOUT, deadline)) {
            return false;
        }
    }
    return true;
}

// The first message the bridge sends back, cut from the stream by the decoder
// that the sessions use.
std::optional<TessaroBridgeMessage> receiveMessage(int descriptor, Clock::time_point deadline) {
    TessaroBridgeFrameDecoder decoder;
    std::uint8_t chunk[4096];
    for (;;) {
        const ssize_t read = ::recv(descriptor, chunk, sizeof chunk, 0);
        if (read > 0) {
            auto messages = decoder.append({chunk, static_cast<std::size_t>(read)});
            if (!messages.empty()) {
                return std::move(messages.front());
            }
        } else if (read == 0 || (errno != EAGAIN && errno != EINTR) ||
                   !waitFor(descriptor, POLLIN, deadline)) {
            return std::nullopt;
        }
    }
}

} // namespace

std::optional<std::vector<TessaroBridgeAgentDevice>>
queryConnectedIPads(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    Socket socket;
    if (socket.descriptor() < 0) {
        return std::nullopt;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(BridgeServer::agentControlPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket.descriptor(), reinterpret_cast<const sockaddr*>(&address),
                  sizeof address) != 0) {
        int error = errno;
        socklen_t length = sizeof error;
        if (error != EINPROGRESS || !waitFor(socket.descriptor(), POLLOUT, deadline) ||
            ::getsockopt(socket.descriptor(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 ||
            error != 0) {
            return std::nullopt;
        }
    }
    const TessaroBridgeAgentRequest request{Uuid::random(), std::nullopt,
                                            TessaroBridgeAgentOperation::devices, std::nullopt};
    try {
        if (!sendAll(socket.descriptor(), encodeFrame(request), deadline)) {
            return std::nullopt;
        }
        const auto answer = receiveMessage(socket.descriptor(), deadline);
        if (!answer) {
            return std::nullopt;
        }
        const auto* response = answer->bodyIf<TessaroBridgeAgentResponse>();
        if (response == nullptr || response->requestID != request.requestID ||
            response->status != TessaroBridgeAgentResponseStatus::accepted || !response->payload) {
            return std::nullopt;
        }
        return TessaroBridgeAgentDevice::decodeList(*response->payload);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace varnello
