// The real varnello-bridge on a fixed iPad port: from the preference "iPadPort",
// from --port over it, on a port already taken, with bad values, and the port the
// system chooses when neither is given.

#include "ChildProcess.h"
#include "HeadlessEndToEndTest.h"
#include "app/ReadyLine.h"
#include "support/TemporaryFolder.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varnello {
namespace {

using namespace std::chrono_literals;
using endtoend::FramedConnection;
using testing::ChildProcess;

const std::string readyLine(testing::readyLineStart);
const std::string takenLine = "Server status: Network error: Address already in use, clients: 0";

// A TCP socket listening on every IPv4 address, on a port the system chose: the
// port stays taken while it lives.
class HeldPort {
public:
    HeldPort() {
        descriptor_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        socklen_t length = sizeof address;
        if (descriptor_ < 0 || ::bind(descriptor_, reinterpret_cast<sockaddr*>(&address), length) ||
            ::listen(descriptor_, 1) ||
            ::getsockname(descriptor_, reinterpret_cast<sockaddr*>(&address), &length)) {
            throw std::runtime_error("could not hold a TCP port");
        }
        port_ = ntohs(address.sin_port);
    }
    ~HeldPort() { ::close(descriptor_); }
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;

    std::uint16_t port() const noexcept { return port_; }

private:
    int descriptor_ = -1;
    std::uint16_t port_ = 0;
};

// A port that was free a moment ago; these tests run alone (or in a network
// namespace of their own), so it stays free for the bridge.
std::uint16_t freePort() {
    return HeldPort().port();
}

using testing::readyPort;

// The bridge answers a peer on `port` with its hello.
bool servesIPadsOn(std::uint16_t port) {
    FramedConnection iPad(port);
    if (!iPad.connected()) {
        return false;
    }
    const auto hello = iPad.receive();
    return hello && hello->value("type", "") == "hello";
}

class FixedPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VARNELLO_TEST_JACK") == nullptr) {
            GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
        }
    }

    ChildProcess::Environment environment() const {
        return ChildProcess::Environment{{{"XDG_DATA_HOME", (folder.path() / "data").string()},
                                          {"XDG_CONFIG_HOME", (folder.path() / "config").string()}},
                                         {"DISPLAY", "WAYLAND_DISPLAY", "JOURNAL_STREAM"}};
    }

    // A desktop without a system tray whose menus are printed as JSON lines.
    ChildProcess::Environment trayEnvironment() const {
        auto tray = environment();
        tray.set["DISPLAY"] = ":97";
        tray.set["QT_QPA_PLATFORM"] = "offscreen";
        tray.set["VARNELLO_PRINT_MENU"] = "1";
        return tray;
    }

    void writePreferences(const std::string& json) const {
        testing::writeFile(folder.path() / "config" / "TessaroBridge" / "preferences.json", json);
    }

    std::filesystem::path outputFile(const std::string& name) const {
        return folder.path() / (name + ".log");
    }

    static void stop(ChildProcess& bridge) {
        ASSERT_TRUE(bridge.running()) << bridge.output();
        bridge.sendSignal(SIGTERM);
        EXPECT_EQ(bridge.waitForExit(10s), 0) << bridge.output();
    }

    testing::TemporaryFolder folder;
    const std::string binary = VARNELLO_BRIDGE_BINARY;
};

TEST_F(FixedPortTest, WithNeitherTheSystemChoosesThePort) {
    writePreferences(R"({"oscForwardingPort": 9001})");
    ChildProcess bridge({binary, "--headless", "--midi=jack"}, environment(), outputFile("none"));
    ASSERT_TRUE(bridge.waitForOutput(readyLine, 20s)) << bridge.output();
    const std::uint16_t port = readyPort(bridge.output());
    // The kernel hands out ports from its local range for a bind to port 0.
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int lowest = 0;
    int highest = 0;
    ASSERT_TRUE(range >> lowest >> highest);
    EXPECT_GE(port, lowest);
    EXPECT_LE(port, highest);
    EXPECT_NE(port, 61885) << "the firewall profiles' port is never taken unasked";
    EXPECT_TRUE(servesIPadsOn(port));
    stop(bridge);
}

TEST_F(FixedPortTest, ThePreferenceAloneFixesThePortOnEveryStart) {
    const std::uint16_t port = freePort();
    writePreferences(R"({"iPadPort": )" + std::to_string(port) + "}");
    for (int start = 0; start < 2; ++start) {
        ChildProcess bridge({binary, "--headless", "--midi=jack"}, environment(),
                            outputFile("preference-" + std::to_string(start)));
        ASSERT_TRUE(bridge.waitForOutput(readyLine, 20s)) << bridge.output();
        EXPECT_EQ(readyPort(bridge.output()), port) << bridge.output();
        EXPECT_TRUE(servesIPadsOn(port));
        stop(bridge);
    }
}

TEST_F(FixedPortTest, TheOptionWinsOverThePreference) {
    std::uint16_t preferred = 0;
    std::uint16_t option = 0;
    {
        // Held together, so that they differ; both free again before the bridge starts.
        const HeldPort first;
        const HeldPort second;
        preferred = first.port();
        option = second.port();
    }
    writePreferences(R"({"iPadPort": )" + std::to_string(preferred) + "}");
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--port", std::to_string(option)},
          std::vector<std::string>{"--port=" + std::to_string(option)}}) {
        std::vector<std::string> command{binary, "--headless", "--midi=jack"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        ChildProcess bridge(command, environment(), outputFile("option-" + arguments[0]));
        ASSERT_TRUE(bridge.waitForOutput(readyLine, 20s)) << bridge.output();
        EXPECT_EQ(readyPort(bridge.output()), option) << bridge.output();
        EXPECT_TRUE(servesIPadsOn(option));
        EXPECT_FALSE(FramedConnection(preferred).connected()) << "the preference's port is open";
        stop(bridge);
    }
}

TEST_F(FixedPortTest, ATakenPortFailsWithTheSystemsTextAndNeverMoves) {
    HeldPort taken;
    writePreferences(R"({"iPadPort": )" + std::to_string(taken.port()) + "}");
    {
        ChildProcess bridge({binary, "--headless", "--midi=jack"}, environment(),
                            outputFile("taken-headless"));
        ASSERT_TRUE(bridge.waitForOutput(takenLine, 20s)) << bridge.output();
        EXPECT_EQ(bridge.output().find(readyLine), std::string::npos) << bridge.output();
        // Failed, not stopped: the service stays to say why, and stops cleanly.
        stop(bridge);
        EXPECT_EQ(bridge.output().find(readyLine), std::string::npos) << bridge.output();
    }
    {
        ChildProcess tray({binary, "--midi=jack", "--port", std::to_string(taken.port())},
                          trayEnvironment(), outputFile("taken-tray"));
        ASSERT_TRUE(tray.waitForOutput(R"("title":"Network error: Address already in use")", 20s))
            << tray.output();
        EXPECT_NE(tray.output().find(takenLine), std::string::npos) << tray.output();
        EXPECT_EQ(tray.output().find(readyLine), std::string::npos) << tray.output();
        stop(tray);
    }
}

TEST_F(FixedPortTest, ABadPreferenceStopsTheStartAndNamesItsValue) {
    const struct {
        std::string stored;
        std::string named;
    } cases[] = {
        {"0", "0"},
        {"65536", "65536"},
        {"-1", "-1"},
        {R"("abc")", R"("abc")"},
        {"61885.5", "61885.5"},
    };
    int run = 0;
    for (const auto& c : cases) {
        writePreferences(R"({"oscForwardingPort": 9001, "iPadPort": )" + c.stored + "}");
        const auto file = outputFile("bad-" + std::to_string(run++));
        EXPECT_EQ(
            testing::runToEnd({binary, "--headless", "--midi=jack"}, environment(), file, 20s), 1)
            << testing::readFile(file);
        const std::string log = testing::readFile(file);
        EXPECT_NE(log.find("error orvane.TessaroBridge lifecycle: Could not start Bridge: The "
                           "preference \u2018iPadPort\u2019 must be a TCP port between 1 and "
                           "65535, not \u2018" +
                           c.named + "\u2019."),
                  std::string::npos)
            << log;
        EXPECT_EQ(log.find("Server status:"), std::string::npos) << log;
        // Refused before the ledger was opened.
        EXPECT_FALSE(std::filesystem::exists(folder.path() / "data" / "TessaroBridge" /
                                             "command-ledger.lock"))
            << c.stored;
    }
    // The tray shows the same as its start-up error, and stays to show it.
    ChildProcess tray({binary, "--midi=jack"}, trayEnvironment(), outputFile("bad-tray"));
    ASSERT_TRUE(tray.waitForOutput("varnello-menu: ", 20s)) << tray.output();
    EXPECT_NE(
        tray.output().find("\"title\":\"Startup error: The preference \u2018iPadPort\u2019 "
                           "must be a TCP port between 1 and 65535, not \u201861885.5\u2019."),
        std::string::npos)
        << tray.output();
    stop(tray);
    // --port wins: the preference is not read, and the bridge serves.
    const std::uint16_t port = freePort();
    ChildProcess overridden({binary, "--headless", "--midi=jack", "--port", std::to_string(port)},
                            environment(), outputFile("bad-overridden"));
    ASSERT_TRUE(overridden.waitForOutput(readyLine, 20s)) << overridden.output();
    EXPECT_EQ(readyPort(overridden.output()), port);
    stop(overridden);
}

} // namespace
} // namespace varnello
