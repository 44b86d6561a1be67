// The real program under a service manager's eye: what it tells the notify
// socket (readiness, state, watchdog, stopping), and a stop that keeps its time
// while a name lookup hangs on the server queue.

#include "ChildProcess.h"
#include "RealBridge.h"
#include "support/TemporaryFolder.h"
#include "support/Uuid.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace varnello {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::ChildProcess;

// A datagram socket standing in for systemd's notify socket: collects every
// message on its own thread, and calls `onMessage` there as each arrives.
class NotifySocket {
public:
    NotifySocket(const std::filesystem::path& path,
                 std::function<void(const std::string&)> onMessage)
        : path_(path), onMessage_(std::move(onMessage)) {
        socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        bound_ = ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        reader_ = std::thread([this] { read(); });
    }

    ~NotifySocket() {
        stopping_ = true;
        reader_.join();
        ::close(socket_);
    }

    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool bound() const { return bound_; }

    std::vector<std::string> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

    std::size_t count(const std::string& text) {
        const auto all = messages();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), text));
    }

    // Every message that starts with `prefix`, in order.
    std::vector<std::string> startingWith(const std::string& prefix) {
        std::vector<std::string> found;
        for (const auto& message : messages()) {
            if (message.rfind(prefix, 0) == 0) {
                found.push_back(message);
            }
        }
        return found;
    }

    bool await(const std::string& text, std::chrono::milliseconds wait) {
        const auto deadline = Clock::now() + wait;
        while (count(text) == 0) {
            if (Clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

private:
    void read() {
        while (!stopping_) {
            pollfd descriptor{socket_, POLLIN, 0};
            if (::poll(&descriptor, 1, 50) != 1) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                continue;
            }
            // One datagram may carry several assignments, one per line.
            std::string datagram(buffer, static_cast<std::size_t>(got));
            std::size_t start = 0;
            while (start < datagram.size()) {
                auto end = datagram.find('\n', start);
                if (end == std::string::npos) {
                    end = datagram.size();
                }
                const std::string message = datagram.substr(start, end - start);
                start = end + 1;
                if (onMessage_) {
                    onMessage_(message);
                }
                std::lock_guard lock(mutex_);
                messages_.push_back(message);
            }
        }
    }

    std::filesystem::path path_;
    std::function<void(const std::string&)> onMessage_;
    int socket_ = -1;
    bool bound_ = false;
    std::atomic<bool> stopping_ = false;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<std::string> messages_;
};

const std::string readyLine(testing::readyLineStart);
// The server's stop grace and what the program may take beyond it.
constexpr auto stopGrace = 2s;
constexpr auto stopMargin = 2s;

class ServiceSupervisionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VARNELLO_TEST_JACK") == nullptr) {
            GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
        }
    }

    // Under systemd with a watchdog of `watchdog`, logging to standard error.
    ChildProcess::Environment supervised(std::chrono::microseconds watchdog) const {
        return ChildProcess::Environment{
            {{"XDG_DATA_HOME", (folder.path() / "data").string()},
             {"XDG_CONFIG_HOME", (folder.path() / "config").string()},
             {"NOTIFY_SOCKET", notifyPath.string()},
             {"WATCHDOG_USEC", std::to_string(watchdog.count())}},
            {"DISPLAY", "WAYLAND_DISPLAY", "JOURNAL_STREAM", "WATCHDOG_PID"}};
    }

    std::unique_ptr<ChildProcess> start(const ChildProcess::Environment& environment) {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{VARNELLO_BRIDGE_BINARY, "--headless", "--midi=jack"},
            environment, logFile);
    }

    static std::uint16_t portIn(const std::string& log) { return testing::readyPort(log); }

    // SIGTERM, then the exit status and how long the program took to end.
    static std::pair<std::optional<int>, std::chrono::milliseconds>
    terminate(ChildProcess& bridge) {
        const auto sent = Clock::now();
        bridge.sendSignal(SIGTERM);
        const auto status = bridge.waitForExit(20s);
        return {status, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent)};
    }

    testing::TemporaryFolder folder;
    std::filesystem::path notifyPath = folder.path() / "notify";
    std::filesystem::path logFile = folder.path() / "bridge.log";
};

TEST_F(ServiceSupervisionTest, TellsReadinessStateWatchdogAndStopping) {
    std::atomic<int> readyBeforeLogLine = 0;
    NotifySocket notify(notifyPath, [&](const std::string& message) {
        // Read when the message arrives: the log line must already be written.
        if (message == "READY=1" &&
            testing::readFile(logFile).find(readyLine) == std::string::npos) {
            ++readyBeforeLogLine;
        }
    });
    ASSERT_TRUE(notify.bound());
    auto bridge = start(supervised(1s));
    ASSERT_TRUE(notify.await("READY=1", 30s)) << bridge->output();
    EXPECT_EQ(readyBeforeLogLine.load(), 0) << "READY=1 came before " << readyLine;
    const auto port = portIn(bridge->output());
    ASSERT_NE(port, 0) << bridge->output();

    // A time-out of 1 s asks for a call every half second: about 10 in 5 s.
    const auto before = notify.count("WATCHDOG=1");
    std::this_thread::sleep_for(5s);
    const auto calls = notify.count("WATCHDOG=1") - before;
    EXPECT_GE(calls, 6u);
    EXPECT_LE(calls, 20u);

    const auto [status, took] = terminate(*bridge);
    EXPECT_EQ(status, 0) << bridge->output();
    EXPECT_LT(took, stopGrace + stopMargin);
    std::printf("SIGTERM to exit: %lld ms\n", static_cast<long long>(took.count()));
    EXPECT_TRUE(notify.await("STOPPING=1", 2s));
    EXPECT_EQ(notify.count("READY=1"), 1u);
    const auto statuses = notify.startingWith("STATUS=");
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses[0], "STATUS=Starten…");
    EXPECT_EQ(statuses[1], "STATUS=Beschikbaar via wifi (TCP " + std::to_string(port) + ")");
}

TEST_F(ServiceSupervisionTest, StopKeepsItsTimeWhileANameLookupHangs) {
    testing::writeFile(folder.path() / "config" / "TessaroBridge" / "preferences.json",
                       R"({"oscForwardingEnabled": true, "oscForwardingHost": "stage.invalid",)"
                       R"( "oscForwardingPort": 9})");
    NotifySocket notify(notifyPath, nullptr);
    ASSERT_TRUE(notify.bound());
    const auto lookupBegan = folder.path() / "lookup-began";
    auto environment = supervised(1s);
    std::string asanOptions = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    // The shim comes before the sanitizer runtime in the load order.
    asanOptions += (asanOptions.empty() ? "" : ":") + std::string("verify_asan_link_order=0");
    environment.set["LD_PRELOAD"] = VARNELLO_BLOCKING_LOOKUP_SHIM;
    environment.set["VARNELLO_BLOCKED_LOOKUP_MARK"] = lookupBegan.string();
    environment.set["ASAN_OPTIONS"] = asanOptions;
    auto bridge = start(environment);
    ASSERT_TRUE(notify.await("READY=1", 30s)) << bridge->output();
    const auto port = portIn(bridge->output());
    ASSERT_NE(port, 0) << bridge->output();

    auto iPad = endtoend::connectIPad(port);
    ASSERT_NE(iPad, nullptr);
    ASSERT_TRUE(iPad->send(endtoend::oscCommandJson(Uuid::random().text(), "/hangs")));
    const auto deadline = Clock::now() + 10s;
    while (!std::filesystem::exists(lookupBegan) && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(std::filesystem::exists(lookupBegan)) << bridge->output();

    // The queue is stuck: its watchdog calls stop, and systemd would restart it.
    std::this_thread::sleep_for(600ms);
    const auto callsWhenStuck = notify.count("WATCHDOG=1");
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(notify.count("WATCHDOG=1"), callsWhenStuck);

    const auto [status, took] = terminate(*bridge);
    EXPECT_EQ(status, 0) << bridge->output();
    EXPECT_LT(took, stopGrace + stopMargin);
    std::printf("SIGTERM to exit with a hanging lookup: %lld ms\n",
                static_cast<long long>(took.count()));
    EXPECT_TRUE(notify.await("STOPPING=1", 2s));
    EXPECT_NE(bridge->output().find("lifecycle: Stopping on SIGTERM."), std::string::npos);
    EXPECT_NE(bridge->output().find("Varnello Bridge exits without waiting for it."),
              std::string::npos)
        << bridge->output();
}

} // namespace
} // namespace varnello
