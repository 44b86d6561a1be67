#include "HostilePeers.h"

#include "BridgeLoadError.h"
#include "protocol/TessaroBridgeCommand.h"
#include "protocol/TessaroBridgeConstants.h"
#include "protocol/TessaroBridgeFrameCodec.h"
#include "protocol/TessaroBridgeHello.h"
#include "support/LoopbackConnection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace varnello::bench {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// For the bridge to see the connections close and free what they held.
constexpr auto settleTime = 1s;

// A blocking TCP connection to 127.0.0.1, closed on destruction.
class RawConnection {
public:
    explicit RawConnection(std::uint16_t port) {
        socket_ =
            testing::connectToLoopback(port, std::chrono::seconds(10), std::chrono::seconds(10));
        if (socket_ < 0) {
            throw BridgeLoadError(BridgeLoadError::Code::connect);
        }
    }
    ~RawConnection() { ::close(socket_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    int descriptor() const noexcept { return socket_; }

    // Some of the bridge's hello: it has taken the connection in.
    void awaitHello() {
        std::uint8_t byte = 0;
        if (::recv(socket_, &byte, 1, 0) != 1) {
            throw BridgeLoadError(BridgeLoadError::Code::noHello);
        }
    }

    void sendAll(const std::vector<std::uint8_t>& bytes) {
        if (::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(bytes.size())) {
            throw BridgeLoadError(BridgeLoadError::Code::send);
        }
    }

private:
    int socket_ = -1;
};

// Commands as fast as the socket takes them until the time is up; how many went out
// whole.
std::size_t flood(RawConnection& peer, std::chrono::milliseconds duration) {
    ::fcntl(peer.descriptor(), F_SETFL, ::fcntl(peer.descriptor(), F_GETFL) | O_NONBLOCK);
    const auto deadline = Clock::now() + duration;
    std::size_t commands = 0;
    std::vector<std::uint8_t> pending;
    std::size_t offset = 0;
    while (Clock::now() < deadline) {
        if (offset == pending.size()) {
            pending = encodeFrame(TessaroBridgeCommand{
                Uuid::random(), TessaroBridgePayload::osc(HostilePeers::floodAddress)});
            offset = 0;
            ++commands;
        }
        const ssize_t sent = ::send(peer.descriptor(), pending.data() + offset,
                                    pending.size() - offset, MSG_NOSIGNAL);
        if (sent > 0) {
            offset += static_cast<std::size_t>(sent);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            std::this_thread::sleep_for(1ms);
        } else {
            break;
        }
    }
    return offset == pending.size() ? commands : commands - 1;
}

} // namespace

HostilePeers::HostilePeers(std::uint16_t port, pid_t bridge) : port_(port), bridge_(bridge) {}

HostileFigures HostilePeers::run(int silent, int stalled, std::chrono::milliseconds floodTime) {
    HostileFigures figures;
    figures.silentConnections = silent;
    figures.stalledConnections = stalled;
    std::vector<std::unique_ptr<RawConnection>> peers;
    for (int n = 0; n < silent; ++n) {
        peers.push_back(std::make_unique<RawConnection>(port_));
        peers.back()->awaitHello();
    }
    // The length of a maximal frame, then all of it but its last byte.
    std::vector<std::uint8_t> partial{0, 1, 0, 0};
    static_assert(maximumFrameBytes == 0x10000);
    partial.resize(4 + maximumFrameBytes - 1, ' ');
    for (int n = 0; n < stalled; ++n) {
        peers.push_back(std::make_unique<RawConnection>(port_));
        peers.back()->sendAll(partial);
    }
    auto flooder = std::make_unique<RawConnection>(port_);
    flooder->awaitHello();
    flooder->sendAll(
        encodeFrame(TessaroBridgeHello::make(TessaroBridgePeerRole::tessaro, 1, "hostile-flood",
                                             "Hostile flood", {TessaroBridgeCapability::osc})));
    figures.floodedCommands = flood(*flooder, floodTime);
    figures.withPeers = testing::processMemory(bridge_);
    peers.clear();
    flooder.reset();
    std::this_thread::sleep_for(settleTime);
    figures.afterClose = testing::processMemory(bridge_);
    return figures;
}

} // namespace varnello::bench
