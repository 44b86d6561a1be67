#include "BridgeCoordinatorTestSupport.h"
#include "core/AsioBridgeServerHost.h"
#include "protocol/TessaroBridgeFrameCodec.h"
#include "protocol/TessaroBridgeMessage.h"
#include "support/LoopbackConnection.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace varnello {
namespace {

using namespace std::chrono_literals;

// A blocking iPad connection to 127.0.0.1 whose reads give up after 5 seconds.
class IPadConnection {
public:
    explicit IPadConnection(std::uint16_t port) {
        socket_ = testing::connectToLoopback(port, 5s);
        connected_ = socket_ >= 0;
    }
    ~IPadConnection() { ::close(socket_); }

    bool connected() const { return connected_; }

    void send(const TessaroBridgeMessage& message) {
        const auto frame = encodeFrame(message);
        ASSERT_EQ(::send(socket_, frame.data(), frame.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(frame.size()));
    }

    // The next message; nothing when the stream ends or stays silent.
    std::optional<TessaroBridgeMessage> receive() {
        std::vector<std::uint8_t> prefix(4);
        if (!readExactly(prefix)) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> payload((std::size_t{prefix[0]} << 24) |
                                          (std::size_t{prefix[1]} << 16) |
                                          (std::size_t{prefix[2]} << 8) | prefix[3]);
        if (!readExactly(payload)) {
            return std::nullopt;
        }
        return decodeMessage(payload);
    }

private:
    bool readExactly(std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::recv(socket_, bytes.data() + done, bytes.size() - done, 0);
            if (got <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

    int socket_ = -1;
    bool connected_ = false;
};

class ServerTest : public testing::CoordinatorFixture {
protected:
    ServerTest() {
        coordinator = [this] {
            auto environment = this->environment();
            environment.makeServerHost = [this]() -> std::unique_ptr<BridgeServerHost> {
                return std::make_unique<AsioBridgeServerHost>(main, logSink);
            };
            return BridgeCoordinator::create(preferences, main, environment);
        }();
        coordinator->onSnapshotChange = [this](const BridgeRuntimeSnapshot& snapshot) {
            EXPECT_EQ(std::this_thread::get_id(), mainThread);
            snapshots.push_back(snapshot);
        };
    }

    // Runs the main executor until a snapshot satisfies `done`, for at most 10 s:
    // the reports come from the server's own thread.
    std::optional<BridgeRuntimeSnapshot>
    awaitSnapshot(const std::function<bool(const BridgeRuntimeSnapshot&)>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            main.runDue();
            for (const auto& snapshot : snapshots) {
                if (done(snapshot)) {
                    return snapshot;
                }
            }
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    }

    std::thread::id mainThread = std::this_thread::get_id();
    std::shared_ptr<BridgeCoordinator> coordinator;
    std::vector<BridgeRuntimeSnapshot> snapshots;
};

TEST_F(ServerTest, IPadCommandOverTCPIsAnsweredAndCountedOnTheMainThread) {
    coordinator->start();
    const auto ready = awaitSnapshot([](const BridgeRuntimeSnapshot& snapshot) {
        return snapshot.serverState.kind() == BridgeServerState::Case::ready;
    });
    ASSERT_TRUE(ready);
    const std::uint16_t port = ready->serverState.port();
    ASSERT_NE(port, 0);
    EXPECT_EQ(ready->identity, identity);

    IPadConnection iPad(port);
    ASSERT_TRUE(iPad.connected());
    const auto hello = iPad.receive();
    ASSERT_TRUE(hello && hello->bodyIf<TessaroBridgeHello>());
    EXPECT_EQ(hello->bodyIf<TessaroBridgeHello>()->peerID(), identity.id);
    iPad.send(TessaroBridgeHello::make(TessaroBridgePeerRole::tessaro, 1, "ipad-left", "Left",
                                       {TessaroBridgeCapability::midi}));
    const auto command = testing::midiCommand({0x90, 64, 90});
    iPad.send(command);
    const auto answer = iPad.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(
        *answer->bodyIf<TessaroBridgeAcknowledgement>(),
        (TessaroBridgeAcknowledgement{command.id, TessaroBridgeAckStatus::accepted, std::nullopt}));
    EXPECT_EQ(midi->packets, (std::vector<std::vector<std::uint8_t>>{{0x90, 64, 90}}));

    EXPECT_TRUE(awaitSnapshot(
        [](const BridgeRuntimeSnapshot& snapshot) { return snapshot.connectedClientCount == 1; }));

    // Releasing the coordinator closes the connection.
    coordinator.reset();
    EXPECT_FALSE(iPad.receive());
}

} // namespace
} // namespace varnello
