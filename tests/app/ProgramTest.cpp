// The real varnello-bridge binary: its command line, its start-up failures, the
// refusal of a second bridge for the same user, and stopping on a signal.

#include "ChildProcess.h"
#include "HeadlessEndToEndTest.h"
#include "ledger/CommandLedgerLockError.h"
#include "support/TemporaryFolder.h"
#include "support/Uuid.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>

namespace varnello {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        result.push_back(line);
    }
    return result;
}

// Every file below a folder with its bytes and modification time.
std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>>
folderState(const std::filesystem::path& folder) {
    std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> state;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            state[entry.path().string()] = {testing::readFile(entry.path()),
                                            entry.last_write_time()};
        }
    }
    return state;
}

// A display whose desktop offers no system tray: Qt's offscreen platform.
ChildProcess::Environment withoutTray(ChildProcess::Environment environment) {
    environment.set["DISPLAY"] = ":97";
    environment.set["QT_QPA_PLATFORM"] = "offscreen";
    environment.set["VARNELLO_PRINT_MENU"] = "1";
    return environment;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class ProgramTest : public ::testing::Test {
protected:
    // A user of its own: data and configuration in the temporary folder, no
    // graphical session and no session bus, logs on standard error.
    ChildProcess::Environment environment() const {
        return ChildProcess::Environment{
            {{"XDG_DATA_HOME", (folder.path() / "data").string()},
             {"XDG_CONFIG_HOME", (folder.path() / "config").string()},
             {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (folder.path() / "no-bus").string()}},
            {"DISPLAY", "WAYLAND_DISPLAY", "JOURNAL_STREAM"}};
    }

    std::filesystem::path outputFile(const std::string& name) const {
        return folder.path() / (name + ".log");
    }

    static bool jackAvailable() { return std::getenv("VARNELLO_TEST_JACK") != nullptr; }

    testing::TemporaryFolder folder;
    const std::string binary = VARNELLO_BRIDGE_BINARY;
};

TEST_F(ProgramTest, CommandLine) {
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string output;
    } cases[] = {
        {{"--version"}, 0, "varnello-bridge " VARNELLO_VERSION "\n"},
        {{"--help"}, 0, "Usage: varnello-bridge [--headless] [--midi=auto|alsa|jack] [--port N]\n"},
        {{"--headless", "--help"}, 0, "Usage: varnello-bridge"},
        {{"--bogus"},
         2,
         "varnello-bridge: Unknown option \u2018--bogus\u2019.\n"
         "Try \u2018varnello-bridge --help\u2019.\n"},
        {{"--midi=coremidi"}, 2, "not \u2018coremidi\u2019."},
        {{"--headless", "jack"}, 2, "Unknown option \u2018jack\u2019."},
        {{"--headless", "--port", "0"},
         2,
         "varnello-bridge: The option \u2018--port\u2019 needs a TCP port between 1 and 65535, "
         "not \u20180\u2019.\n"},
        {{"--port=65536", "--headless"}, 2, "not \u201865536\u2019."},
        {{"--port", "-1"}, 2, "not \u2018-1\u2019."},
        {{"--port", "ipad"}, 2, "not \u2018ipad\u2019."},
        {{"--headless", "--port"}, 2, "The option \u2018--port\u2019 needs a value."},
    };
    int run = 0;
    for (const auto& c : cases) {
        std::vector<std::string> command{binary};
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        const auto file = outputFile("command-line-" + std::to_string(run++));
        EXPECT_EQ(testing::runToEnd(command, environment(), file, 10s), c.status)
            << testing::readFile(file);
        EXPECT_NE(testing::readFile(file).find(c.output), std::string::npos)
            << testing::readFile(file);
    }
    // Refused command lines start nothing.
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "data"));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "config"));
}

TEST_F(ProgramTest, StartUpErrorWithoutDisplayExitsWithStatusOne) {
    if (std::filesystem::exists("/dev/snd/seq")) {
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    }
    const auto file = outputFile("alsa");
    // No --headless: without a graphical session the program runs headless anyway.
    EXPECT_EQ(testing::runToEnd({binary, "--midi=alsa"}, environment(), file, 20s), 1);
    const auto log = lines(testing::readFile(file));
    std::vector<std::string> lifecycle;
    for (const std::string& line : log) {
        if (line.find(" orvane.TessaroBridge lifecycle: ") != std::string::npos) {
            lifecycle.push_back(line.substr(line.find(' ') + 1));
        }
    }
    ASSERT_EQ(lifecycle.size(), 5u) << testing::readFile(file);
    EXPECT_EQ(lifecycle[0], "default orvane.TessaroBridge lifecycle: No graphical session "
                            "(neither DISPLAY nor WAYLAND_DISPLAY is set): running headless.");
    EXPECT_EQ(lifecycle[1].rfind("default orvane.TessaroBridge lifecycle: No session D-Bus: "
                                 "Varnello Bridge keeps serving",
                                 0),
              0u)
        << lifecycle[1];
    EXPECT_EQ(lifecycle[2], "info orvane.TessaroBridge lifecycle: Varnello Bridge start");
    EXPECT_EQ(lifecycle[3].rfind("error orvane.TessaroBridge lifecycle: Could not start Bridge: "
                                 "CoreMIDI could not perform \u2018",
                                 0),
              0u)
        << lifecycle[3];
    EXPECT_EQ(lifecycle[4].rfind("default orvane.TessaroBridge lifecycle: No desktop notification "
                                 "server answered",
                                 0),
              0u)
        << lifecycle[4];
    // The first log line is the one that says it runs headless.
    EXPECT_NE(log.front().find("running headless"), std::string::npos);
}

TEST_F(ProgramTest, SecondBridgeIsRefusedWithoutTouchingTheLedger) {
    if (!jackAvailable()) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    ChildProcess first({binary, "--headless", "--midi=jack"}, environment(), outputFile("first"));
    ASSERT_TRUE(first.waitForOutput("Server status: Beschikbaar via wifi (TCP ", 20s))
        << first.output();
    const auto ledgerFolder = folder.path() / "data" / "TessaroBridge";
    const auto before = folderState(ledgerFolder);

    const auto file = outputFile("second");
    EXPECT_EQ(testing::runToEnd({binary, "--headless", "--midi=jack"}, environment(), file, 20s),
              1);
    const std::string second = testing::readFile(file);
    EXPECT_NE(second.find(std::string("error orvane.TessaroBridge lifecycle: Could not start "
                                      "Bridge: ") +
                          CommandLedgerLockError::alreadyInUse().what()),
              std::string::npos)
        << second;
    EXPECT_EQ(second.find("Bridge-coordinator gereed"), std::string::npos) << second;
    EXPECT_EQ(folderState(ledgerFolder), before);

    // The tray application says the same in its menu's start-up error line, and
    // stays to show it.
    {
        ChildProcess tray({binary, "--midi=jack"}, withoutTray(environment()),
                          outputFile("second-tray"));
        ASSERT_TRUE(tray.waitForOutput("varnello-menu: ", 20s)) << tray.output();
        EXPECT_NE(tray.output().find(std::string("\"title\":\"Startup error: ") +
                                     CommandLedgerLockError::alreadyInUse().what() + "\""),
                  std::string::npos)
            << tray.output();
        EXPECT_TRUE(tray.running());
        tray.sendSignal(SIGTERM);
        EXPECT_EQ(tray.waitForExit(10s), 0) << tray.output();
    }
    EXPECT_EQ(folderState(ledgerFolder), before);

    EXPECT_TRUE(first.running());
    first.sendSignal(SIGTERM);
    EXPECT_EQ(first.waitForExit(10s), 0) << first.output();
}

TEST_F(ProgramTest, StopsOnSignalWithStatusZero) {
    if (!jackAvailable()) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    for (const auto& [number, name] :
         {std::pair{SIGINT, "SIGINT"}, std::pair{SIGTERM, "SIGTERM"}}) {
        ChildProcess bridge({binary, "--headless", "--midi=jack"}, environment(), outputFile(name));
        ASSERT_TRUE(bridge.waitForOutput("Server status: Beschikbaar via wifi (TCP ", 20s))
            << bridge.output();
        bridge.sendSignal(number);
        EXPECT_EQ(bridge.waitForExit(10s), 0) << bridge.output();
        EXPECT_NE(bridge.output().find(std::string("lifecycle: Stopping on ") + name + "."),
                  std::string::npos)
            << bridge.output();
    }
}

TEST_F(ProgramTest, WithoutASystemTrayItShowsItsWindowAndKeepsServing) {
    if (!jackAvailable()) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    ChildProcess bridge({binary, "--midi=jack"}, withoutTray(environment()), outputFile("no-tray"));
    ASSERT_TRUE(bridge.waitForOutput("Server status: Beschikbaar via wifi (TCP ", 20s))
        << bridge.output();
    const std::string noTray = "error orvane.TessaroBridge lifecycle: The desktop offers no "
                               "system tray: Varnello Bridge shows its window instead.";
    EXPECT_EQ(occurrences(bridge.output(), noTray), 1u) << bridge.output();
    // The window's entries are the menu's, line for line.
    ASSERT_TRUE(bridge.waitForOutput("varnello-window: ", 10s)) << bridge.output();
    const auto printed = lines(bridge.output());
    std::string menu;
    std::string window;
    for (const std::string& line : printed) {
        if (line.rfind("varnello-menu: ", 0) == 0) {
            menu = line.substr(15);
        } else if (line.rfind("varnello-window: ", 0) == 0) {
            window = line.substr(17);
        }
    }
    EXPECT_EQ(window, menu);
    EXPECT_NE(window.find("\"title\":\"OSC to 127.0.0.1:9000\""), std::string::npos) << window;
    EXPECT_EQ(bridge.output().find("running headless"), std::string::npos);
    bridge.sendSignal(SIGTERM);
    EXPECT_EQ(bridge.waitForExit(10s), 0) << bridge.output();
}

TEST_F(ProgramTest, TrayApplicationStaysAliveAfterAFailedStartUp) {
    if (std::filesystem::exists("/dev/snd/seq")) {
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    }
    ChildProcess bridge({binary, "--midi=alsa"}, withoutTray(environment()),
                        outputFile("tray-failed"));
    ASSERT_TRUE(bridge.waitForOutput("varnello-menu: ", 20s)) << bridge.output();
    EXPECT_NE(bridge.output().find("lifecycle: Could not start Bridge: "), std::string::npos);
    EXPECT_NE(bridge.output().find("\"title\":\"Startup error: CoreMIDI could not perform"),
              std::string::npos)
        << bridge.output();
    EXPECT_TRUE(bridge.running());
    bridge.sendSignal(SIGINT);
    EXPECT_EQ(bridge.waitForExit(10s), 0) << bridge.output();
}

TEST_F(ProgramTest, StoppingAnswersPendingAgentRequests) {
    if (!jackAvailable()) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    ChildProcess bridge({binary, "--headless", "--midi=jack"}, environment(),
                        outputFile("stopping"));
    ASSERT_TRUE(bridge.waitForOutput("Server status: Beschikbaar via wifi (TCP ", 20s))
        << bridge.output();
    std::smatch match;
    const std::string log = bridge.output();
    ASSERT_TRUE(std::regex_search(log, match, std::regex(R"(Beschikbaar via wifi \(TCP (\d+)\))")));
    const auto port = static_cast<std::uint16_t>(std::stoi(match[1]));

    // An iPad that offers the Agent API, and a request it never answers.
    endtoend::FramedConnection iPad(port);
    ASSERT_TRUE(iPad.connected());
    ASSERT_TRUE(iPad.receive());
    ASSERT_TRUE(iPad.send(R"({"type":"hello","body":{"role":"tessaro","protocolVersion":1,)"
                          R"("peerID":"stopping-ipad","displayName":"Stopping iPad",)"
                          R"("capabilities":["agentAPI"]}})"));
    endtoend::FramedConnection agent(54884);
    ASSERT_TRUE(agent.connected());
    const std::string requestID = Uuid::random().text();
    ASSERT_TRUE(agent.send(R"({"type":"agentRequest","body":{"requestID":")" + requestID +
                           R"(","operation":"capabilities"}})"));
    const auto forwarded = iPad.receive();
    ASSERT_TRUE(forwarded) << bridge.output();
    ASSERT_EQ((*forwarded)["type"], "agentRequest");

    bridge.sendSignal(SIGTERM);
    const auto response = agent.receive();
    ASSERT_TRUE(response) << bridge.output();
    EXPECT_EQ((*response)["type"], "agentResponse");
    EXPECT_EQ((*response)["body"]["requestID"], requestID);
    EXPECT_EQ((*response)["body"]["status"], "unavailable");
    EXPECT_EQ((*response)["body"]["detail"], "Varnello Bridge is stopping.");
    EXPECT_EQ(bridge.waitForExit(10s), 0) << bridge.output();
}

} // namespace
} // namespace varnello
