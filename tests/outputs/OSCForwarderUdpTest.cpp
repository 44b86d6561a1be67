#include "UdpReceiver.h"
#include "outputs/OSCForwarder.h"
#include "outputs/OSCForwarderError.h"
#include "outputs/SystemDatagramNetwork.h"
#include "support/BoundedCommand.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>

extern char** environ;

namespace varnello {
namespace {

using test::UdpReceiver;
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Bytes typeTag = {',', 0, 0, 0};

// The system network, counting what the forwarder asks of it.
class CountingNetwork final : public DatagramNetwork {
public:
    std::optional<std::vector<DatagramDestination>> resolve(const std::string& host,
                                                            const std::string& port) override {
        ++resolutions;
        return system_.resolve(host, port);
    }
    int openSocket(int family, int socketType, int protocol) override {
        const int socket = system_.openSocket(family, socketType, protocol);
        if (socket >= 0) {
            ++openedSockets;
        }
        return socket;
    }
    long sendTo(int socket, std::span<const std::uint8_t> datagram,
                const DatagramDestination& destination) override {
        return system_.sendTo(socket, datagram, destination);
    }
    void closeSocket(int socket) noexcept override {
        ++closedSockets;
        system_.closeSocket(socket);
    }

    int resolutions = 0;
    int openedSockets = 0;
    int closedSockets = 0;

private:
    SystemDatagramNetwork system_;
};

class OSCForwarderUdpTest : public ::testing::Test {
protected:
    OSCForwarderUdpTest() {
        auto counting = std::make_unique<CountingNetwork>();
        network = counting.get();
        forwarder.emplace(std::move(counting));
    }

    OSCForwarderError sendError(std::string_view address, const std::string& host) {
        try {
            forwarder->send(address, {.isEnabled = true, .host = host, .port = 9000});
        } catch (const OSCForwarderError& error) {
            return error;
        }
        ADD_FAILURE() << "send succeeded";
        return OSCForwarderError::disabled();
    }

    CountingNetwork* network = nullptr;
    std::optional<OSCForwarder> forwarder;
};

TEST_F(OSCForwarderUdpTest, LoopbackReceiverGetsTheExactDatagram) {
    const std::string longest = "/" + std::string(1023, 'x');
    const struct {
        std::string address;
        Bytes datagram;
    } cases[] = {
        {"/ab", joined({bytesOf("/ab"), {0}, typeTag})},
        {"/abc", joined({bytesOf("/abc"), {0, 0, 0, 0}, typeTag})},
        {"/abcdefghij", joined({bytesOf("/abcdefghij"), {0}, typeTag})},
        {longest, joined({bytesOf(longest), {0, 0, 0, 0}, typeTag})},
        // Three characters but five UTF-8 bytes: padded to 8, not to 4.
        {"/\u00e7\u00e9", joined({bytesOf("/\u00e7\u00e9"), {0, 0, 0}, typeTag})},
    };
    ASSERT_EQ(cases[3].datagram.size(), 1032U);

    const UdpReceiver receiver(AF_INET);
    for (const auto& c : cases) {
        forwarder->send(c.address,
                        {.isEnabled = true, .host = "127.0.0.1", .port = receiver.port()});
        EXPECT_EQ(receiver.receive(), c.datagram) << c.address.size();
    }
    EXPECT_EQ(receiver.receive(100), std::nullopt) << "more datagrams than sends";
    EXPECT_EQ(network->resolutions, 5);
    EXPECT_EQ(network->openedSockets, 5);
    EXPECT_EQ(network->closedSockets, 5);
}

TEST_F(OSCForwarderUdpTest, IPv6LoopbackWorks) {
    std::optional<UdpReceiver> receiver;
    try {
        receiver.emplace(AF_INET6);
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    }
    forwarder->send("/cue/7", {.isEnabled = true, .host = "::1", .port = receiver->port()});
    EXPECT_EQ(receiver->receive(), joined({bytesOf("/cue/7"), {0, 0}, typeTag}));
}

TEST_F(OSCForwarderUdpTest, UnresolvableHostOpensNoSocket) {
    const OSCForwarderError error = sendError("/go", "no-such-host.invalid");
    EXPECT_EQ(error.message(), "Could not find OSC host \u2018no-such-host.invalid\u2019.");
    EXPECT_EQ(network->resolutions, 1);
    EXPECT_EQ(network->openedSockets, 0);
}

TEST_F(OSCForwarderUdpTest, EmptyHostFailsResolution) {
    const OSCForwarderError error = sendError("/go", "");
    EXPECT_EQ(error.message(), "Could not find OSC host \u2018\u2019.");
    EXPECT_EQ(network->openedSockets, 0);
}

TEST_F(OSCForwarderUdpTest, DisabledWinsOverAnInvalidAddress) {
    try {
        forwarder->send("no slash", {.isEnabled = false, .host = "127.0.0.1", .port = 9});
        FAIL() << "send succeeded";
    } catch (const OSCForwarderError& error) {
        EXPECT_EQ(error.message(), "OSC forwarding is disabled.");
    }
    EXPECT_EQ(network->resolutions, 0);
}

// oscdump (liblo) as an independent reader, stopped by its pid.
class OscDump {
public:
    explicit OscDump(std::uint16_t port) {
        int pipeEnds[2];
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        const std::string portText = std::to_string(port);
        // Under a limit of its own too, should this test be killed before it stops it;
        // timeout passes the stop's SIGTERM on.
        char* arguments[] = {const_cast<char*>("timeout"),        const_cast<char*>("120"),
                             const_cast<char*>("oscdump"),        const_cast<char*>("-L"),
                             const_cast<char*>(portText.c_str()), nullptr};
        const int result = posix_spawnp(&pid_, "timeout", &actions, nullptr, arguments, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        output_ = pipeEnds[0];
        if (result != 0) {
            ::close(output_);
            throw std::runtime_error("oscdump could not be started");
        }
    }

    ~OscDump() {
        testing::stopChild(pid_, std::chrono::seconds(5));
        ::close(output_);
    }

    OscDump(const OscDump&) = delete;
    OscDump& operator=(const OscDump&) = delete;

    // The next line printed, or nothing within the wait.
    std::optional<std::string> line(int waitMilliseconds) {
        while (true) {
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                std::string first = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return first;
            }
            pollfd descriptor{output_, POLLIN, 0};
            if (::poll(&descriptor, 1, waitMilliseconds) != 1) {
                return std::nullopt;
            }
            char chunk[512];
            const ssize_t count = ::read(output_, chunk, sizeof chunk);
            if (count <= 0) {
                ended_ = true;
                return std::nullopt;
            }
            buffer_.append(chunk, static_cast<std::size_t>(count));
        }
    }

    // Its output closed: it exited, for one because another program took its port.
    bool ended() const noexcept { return ended_; }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string buffer_;
    bool ended_ = false;
};

TEST_F(OSCForwarderUdpTest, OscDumpReadsTheAddress) {
    const std::string address = "/varnello/cue/12";
    std::optional<std::string> printed;
    // A port that was free a moment ago, which oscdump binds itself; should another
    // program take it first, oscdump exits and is started again on another one.
    for (int start = 0; start < 3 && !printed; ++start) {
        const std::uint16_t port = UdpReceiver(AF_INET).port();
        OscDump dump(port);
        // oscdump gives no sign of being ready: send until it prints, a bounded number of times.
        for (int attempt = 0; attempt < 50 && !printed && !dump.ended(); ++attempt) {
            forwarder->send(address, {.isEnabled = true, .host = "127.0.0.1", .port = port});
            printed = dump.line(100);
        }
    }
    ASSERT_TRUE(printed) << "oscdump printed nothing";
    // "<time tag> <address> <type tags>": the address is the second field.
    std::istringstream fields(*printed);
    std::string timeTag;
    std::string printedAddress;
    fields >> timeTag >> printedAddress;
    EXPECT_EQ(printedAddress, address) << *printed;
}

} // namespace
} // namespace varnello
