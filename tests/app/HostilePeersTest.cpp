// Hostile peers against the real bridge: connections that never say hello,
// connections stalled inside a maximal frame, and a peer that floods commands
// without reading a single answer. A well-behaved iPad is answered throughout,
// memory stays bounded, and after the connections close the bridge stops
// cleanly (under the sanitizer build, with no leak). Prints the figures.

#include "../outputs/UdpReceiver.h"
#include "RealBridge.h"
#include "protocol/TessaroBridgeConstants.h"
#include "support/TemporaryFolder.h"
#include "support/Uuid.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>

namespace varnello::endtoend {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int silentConnections = 200;
constexpr int stalledConnections = 50;
constexpr auto floodDuration = 3s;

// Sends commands as fast as the socket takes them, never reading, until the
// time is up. Returns how many whole commands went out.
std::size_t flood(std::uint16_t port, std::chrono::seconds duration) {
    FramedConnection peer(port);
    if (!peer.connected() || !peer.send(iPadHelloJson)) {
        return 0;
    }
    ::fcntl(peer.descriptor(), F_SETFL, O_NONBLOCK);
    const auto deadline = Clock::now() + duration;
    std::size_t commands = 0;
    std::string pending;
    while (Clock::now() < deadline) {
        if (pending.empty()) {
            pending = frame(oscCommandJson(Uuid::random().text(), "/flood"));
            ++commands;
        }
        const ssize_t sent =
            ::send(peer.descriptor(), pending.data(), pending.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            pending.erase(0, static_cast<std::size_t>(sent));
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            std::this_thread::sleep_for(1ms);
        } else {
            break;
        }
    }
    return pending.empty() ? commands : commands - 1;
}

double megabytes(std::size_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

TEST(HostilePeers, WellBehavedIPadIsAnsweredAndMemoryStaysBounded) {
    if (std::getenv("VARNELLO_TEST_JACK") == nullptr) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    testing::TemporaryFolder folder;
    test::UdpReceiver osc(AF_INET);
    RealBridge bridge(folder.path(), osc.port());
    const auto port = bridge.start();
    ASSERT_TRUE(port) << bridge.process().errorOutput();
    auto iPad = connectIPad(*port);
    ASSERT_NE(iPad, nullptr);
    int cue = 0;
    Clock::duration slowestAnswer{};
    const auto expectAnswered = [&](const char* phase) {
        const auto start = Clock::now();
        ASSERT_TRUE(
            iPad->send(oscCommandJson(Uuid::random().text(), "/good/" + std::to_string(cue++))));
        const auto answer = iPad->receive();
        ASSERT_TRUE(answer) << phase;
        EXPECT_EQ((*answer)["body"]["status"], "accepted") << phase;
        slowestAnswer = std::max(slowestAnswer, Clock::now() - start);
    };
    expectAnswered("at start");
    const std::size_t baseline = bridge.memory().resident;

    // Each reads the bridge's hello, so the bridge has taken it in before memory is read.
    std::vector<std::unique_ptr<FramedConnection>> silent;
    for (int index = 0; index < silentConnections; ++index) {
        silent.push_back(std::make_unique<FramedConnection>(*port));
        ASSERT_TRUE(silent.back()->connected());
        ASSERT_TRUE(silent.back()->receive());
    }
    expectAnswered("beside silent connections");
    const std::size_t withSilent = bridge.memory().resident;

    // The length of a maximal frame, then all of it but its last byte.
    std::string partial = frame(std::string(maximumFrameBytes, ' '));
    partial.pop_back();
    std::vector<std::unique_ptr<FramedConnection>> stalled;
    for (int index = 0; index < stalledConnections; ++index) {
        stalled.push_back(std::make_unique<FramedConnection>(*port));
        ASSERT_TRUE(stalled.back()->connected());
        ASSERT_TRUE(stalled.back()->sendBytes(partial));
    }
    std::this_thread::sleep_for(500ms);
    expectAnswered("beside stalled frames");
    const std::size_t withStalled = bridge.memory().resident;

    std::atomic<std::size_t> flooded{0};
    std::thread flooder([&] { flooded = flood(*port, floodDuration); });
    const auto floodEnd = Clock::now() + floodDuration;
    int answeredDuringFlood = 0;
    while (Clock::now() < floodEnd) {
        expectAnswered("during the flood");
        ++answeredDuringFlood;
        std::this_thread::sleep_for(100ms);
    }
    flooder.join();
    const std::size_t withFlood = bridge.memory().resident;

    silent.clear();
    stalled.clear();
    std::this_thread::sleep_for(1s);
    expectAnswered("after the others closed");
    const std::size_t afterClose = bridge.memory().resident;
    const std::size_t peak = bridge.memory().peak;

    std::printf(
        "hostile peers: resident %.1f MiB at start, %.1f MiB with %d silent connections "
        "(%.0f bytes each), %.1f MiB with %d stalled maximal frames (%.0f bytes each), "
        "%.1f MiB after a %lld s flood of %zu commands (%d good commands answered "
        "meanwhile, slowest answer %.1f ms), %.1f MiB after closing, peak %.1f MiB\n",
        megabytes(baseline), megabytes(withSilent), silentConnections,
        static_cast<double>(withSilent - baseline) / silentConnections, megabytes(withStalled),
        stalledConnections, static_cast<double>(withStalled - withSilent) / stalledConnections,
        megabytes(withFlood), static_cast<long long>(floodDuration.count()), flooded.load(),
        answeredDuringFlood, std::chrono::duration<double, std::milli>(slowestAnswer).count(),
        megabytes(afterClose), megabytes(peak));
#ifndef __SANITIZE_ADDRESS__
    // Generous bounds: a buffer per connection is fine, growth with the flood is
    // not. (AddressSanitizer keeps freed memory in quarantine, so its figures
    // grow with any work; that build checks for leaks instead.)
    EXPECT_LT(withStalled - baseline, std::size_t{64} << 20);
    EXPECT_LT(withFlood - withStalled, std::size_t{16} << 20);
#endif
    EXPECT_GE(answeredDuringFlood, 5);
    EXPECT_EQ(bridge.terminate(), 0) << bridge.process().errorOutput();
}

} // namespace
} // namespace varnello::endtoend
