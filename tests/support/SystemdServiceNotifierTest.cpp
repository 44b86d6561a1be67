#include "support/SystemdServiceNotifier.h"

#include "core/ScopedEnvironment.h"
#include "support/TemporaryFolder.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace varnello {
namespace {

using namespace std::chrono_literals;

// A datagram socket where systemd's notify socket would be.
class NotifySocket {
public:
    explicit NotifySocket(const std::filesystem::path& path) {
        socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        bound_ = ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { ::close(socket_); }

    bool bound() const { return bound_; }

    // The next datagram, or nothing within a second.
    std::optional<std::string> receive() {
        pollfd descriptor{socket_, POLLIN, 0};
        if (::poll(&descriptor, 1, 1000) != 1) {
            return std::nullopt;
        }
        char buffer[4096];
        const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
        return got < 0 ? std::nullopt : std::optional(std::string(buffer, std::size_t(got)));
    }

private:
    int socket_ = -1;
    bool bound_ = false;
};

TEST(SystemdServiceNotifierTest, EachCallIsOneDatagramOnTheNotifySocket) {
    testing::TemporaryFolder folder;
    NotifySocket socket(folder.path() / "notify");
    ASSERT_TRUE(socket.bound());
    testing::ScopedEnvironment environment;
    environment.set("NOTIFY_SOCKET", (folder.path() / "notify").c_str());
    SystemdServiceNotifier notifier;
    notifier.status("Beschikbaar via wifi (TCP 40123)");
    EXPECT_EQ(socket.receive(), "STATUS=Beschikbaar via wifi (TCP 40123)");
    // A line break would end the status early and read the rest as another assignment.
    notifier.status("Network error: first\nREADY=1");
    EXPECT_EQ(socket.receive(), "STATUS=Network error: first READY=1");
    notifier.ready();
    EXPECT_EQ(socket.receive(), "READY=1");
    notifier.watchdog();
    EXPECT_EQ(socket.receive(), "WATCHDOG=1");
    notifier.stopping();
    EXPECT_EQ(socket.receive(), "STOPPING=1");
}

TEST(SystemdServiceNotifierTest, WatchdogTimeoutOnlyWhenSystemdWatchesThisProcess) {
    const std::string self = std::to_string(::getpid());
    const struct {
        const char* notifySocket;
        const char* usec;
        const char* pid;
        std::optional<std::chrono::microseconds> timeout;
    } cases[] = {
        {"/run/user/0/systemd/notify", "90000000", nullptr, 90s},
        {"/run/user/0/systemd/notify", "1000000", self.c_str(), 1s},
        {"/run/user/0/systemd/notify", "1000000", "1", std::nullopt},
        {"/run/user/0/systemd/notify", "0", nullptr, std::nullopt},
        {"/run/user/0/systemd/notify", "soon", nullptr, std::nullopt},
        {"/run/user/0/systemd/notify", nullptr, nullptr, std::nullopt},
        {nullptr, "1000000", nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        testing::ScopedEnvironment environment;
        environment.set("NOTIFY_SOCKET", c.notifySocket);
        environment.set("WATCHDOG_USEC", c.usec);
        environment.set("WATCHDOG_PID", c.pid);
        EXPECT_EQ(SystemdServiceNotifier().watchdogTimeout(), c.timeout)
            << (c.usec ? c.usec : "(no WATCHDOG_USEC)");
    }
}

} // namespace
} // namespace varnello
