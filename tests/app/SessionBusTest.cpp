// The real program on a private session bus of the test's own (a dbus-daemon stopped
// by its pid): `varnello-bridge status` against a headless and a tray bridge, a second
// tray start showing the first one's window, and desktop notifications received by
// the test's notification server.

#include "ChildProcess.h"
#include "RealBridge.h"
#include "ledger/CommandLedger.h"
#include "ledger/PosixLedgerFileSystem.h"
#include "support/TemporaryFolder.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>
#include <unistd.h>

namespace varnello {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class SessionBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        bus_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                                     "--address=" + busAddress, "--print-address=1"},
            ChildProcess::Environment{}, folder.path() / "bus.log");
        ASSERT_TRUE(bus_->waitForOutput("unix:path=", 10s)) << bus_->output();
    }

    void TearDown() override {
        if (bus_ && bus_->running()) {
            bus_->sendSignal(SIGTERM);
            bus_->waitForExit(5s);
        }
    }

    // A user of its own on the private bus: data and configuration in the temporary
    // folder; without a graphical session unless `tray`, then on Qt's offscreen
    // platform, which offers no tray, so the window shows.
    ChildProcess::Environment environment(bool tray) const {
        ChildProcess::Environment environment{
            {{"XDG_DATA_HOME", (folder.path() / "data").string()},
             {"XDG_CONFIG_HOME", (folder.path() / "config").string()},
             {"DBUS_SESSION_BUS_ADDRESS", busAddress}},
            {"DISPLAY", "WAYLAND_DISPLAY", "JOURNAL_STREAM"}};
        if (tray) {
            environment.set["DISPLAY"] = ":97";
            environment.set["QT_QPA_PLATFORM"] = "offscreen";
            environment.set["VARNELLO_PRINT_MENU"] = "1";
        }
        return environment;
    }

    std::filesystem::path file(const std::string& name) const {
        return folder.path() / (name + ".log");
    }

    // `varnello-bridge status` with these arguments: its status and output.
    std::pair<std::optional<int>, std::string> status(const std::vector<std::string>& arguments,
                                                      const std::string& name) {
        std::vector<std::string> command{binary, "status"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const auto exitStatus = testing::runToEnd(command, environment(false), file(name), 20s);
        return {exitStatus, testing::readFile(file(name))};
    }

    static bool jackAvailable() { return std::getenv("VARNELLO_TEST_JACK") != nullptr; }

    testing::TemporaryFolder folder;
    const std::string busAddress = "unix:path=" + (folder.path() / "bus").string();
    const std::string binary = VARNELLO_BRIDGE_BINARY;
    std::unique_ptr<ChildProcess> bus_;
};

TEST_F(SessionBusTest, StatusWithoutARunningBridgeExitsThree) {
    auto [exitStatus, output] = status({}, "none");
    EXPECT_EQ(exitStatus, 3);
    EXPECT_EQ(output, "Varnello Bridge is not running.\n");
    // Without any session bus the answer is the same.
    auto noBus = environment(false);
    noBus.set["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (folder.path() / "no-bus").string();
    EXPECT_EQ(testing::runToEnd({binary, "status", "--json"}, noBus, file("no-bus"), 20s), 3);
    EXPECT_EQ(testing::readFile(file("no-bus")), "Varnello Bridge is not running.\n");
}

TEST_F(SessionBusTest, StatusOfAHeadlessBridgeAndItsSecondStartRefused) {
    if (!jackAvailable()) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    // --midi=auto: the status names the system it settled on, not the choice.
    const int sequencer = ::open("/dev/snd/seq", O_RDWR | O_CLOEXEC);
    const std::string serving = sequencer >= 0 ? "alsa" : "jack";
    if (sequencer >= 0) {
        ::close(sequencer);
    }
    ChildProcess bridge({binary, "--headless", "--midi=auto"}, environment(false),
                        file("headless"));
    ASSERT_TRUE(bridge.waitForOutput("Server status: Beschikbaar via wifi (TCP ", 20s))
        << bridge.output();
    std::smatch port;
    const std::string log = bridge.output();
    ASSERT_TRUE(std::regex_search(log, port, std::regex(R"(Beschikbaar via wifi \(TCP (\d+)\))")));

    const auto [exitStatus, lines] = status({}, "status");
    EXPECT_EQ(exitStatus, 0) << lines;
    EXPECT_EQ(lines, "Beschikbaar via wifi (TCP " + port[1].str() +
                         ")\n"
                         "0 iPads connected\n"
                         "OSC to 127.0.0.1:9000 (forwarding on)\n"
                         "MIDI: " +
                         serving +
                         ", port \u201cVarnello Bridge\u201d\n"
                         "Command ledger: 0 of 250000 insertions (0%)\n");

    // A connected iPad is listed by its display name under the count.
    const auto iPad = endtoend::connectIPad(static_cast<std::uint16_t>(std::stoi(port[1].str())));
    ASSERT_NE(iPad, nullptr);
    std::string withIPad;
    for (int attempt = 0; attempt < 50; ++attempt) {
        withIPad = status({}, "status-ipad").second;
        if (withIPad.find("1 iPad connected\n  Test iPad\n") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_NE(withIPad.find("1 iPad connected\n  Test iPad\n"), std::string::npos) << withIPad;

    const auto [jsonStatus, json] = status({"--json"}, "status-json");
    EXPECT_EQ(jsonStatus, 0) << json;
    const auto report = nlohmann::json::parse(json);
    EXPECT_EQ(report["state"], "Beschikbaar via wifi (TCP " + port[1].str() + ")");
    EXPECT_EQ(report["iPadsConnected"], 1);
    EXPECT_EQ(report["iPads"], nlohmann::json::array({"Test iPad"}));
    EXPECT_EQ(report["osc"]["line"], "OSC to 127.0.0.1:9000");
    EXPECT_EQ(report["midi"]["backend"], serving);
    EXPECT_EQ(report["ledger"]["maximum"], 250000);

    // A second service is still refused by the ledger's lock, with status 1.
    EXPECT_EQ(testing::runToEnd({binary, "--headless", "--midi=jack"}, environment(false),
                                file("second"), 20s),
              1);
    EXPECT_NE(testing::readFile(file("second"))
                  .find("Could not start Bridge: Varnello Bridge is already running"),
              std::string::npos)
        << testing::readFile(file("second"));

    // set-aside never runs beside a bridge; status reads the ledger all the same.
    EXPECT_EQ(testing::runToEnd({binary, "ledger", "set-aside", "--yes"}, environment(false),
                                file("set-aside"), 20s),
              1);
    EXPECT_NE(testing::readFile(file("set-aside")).find("Varnello Bridge is running"),
              std::string::npos)
        << testing::readFile(file("set-aside"));
    EXPECT_EQ(testing::runToEnd({binary, "ledger", "status"}, environment(false),
                                file("ledger-status"), 20s),
              0)
        << testing::readFile(file("ledger-status"));

    bridge.sendSignal(SIGTERM);
    EXPECT_EQ(bridge.waitForExit(10s), 0) << bridge.output();
    EXPECT_EQ(status({}, "after").first, 3);
}

TEST_F(SessionBusTest, SecondTrayStartShowsTheWindowOfTheFirst) {
    if (!jackAvailable()) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    ChildProcess first({binary, "--midi=jack"}, environment(true), file("first"));
    ASSERT_TRUE(first.waitForOutput("Server status: Beschikbaar via wifi (TCP ", 20s))
        << first.output();
    ASSERT_TRUE(first.waitForOutput("varnello-window: ", 20s)) << first.output();
    const std::size_t windowsBefore = occurrences(first.output(), "varnello-window: ");

    EXPECT_EQ(testing::runToEnd({binary, "--midi=jack"}, environment(true), file("second"), 20s), 0)
        << testing::readFile(file("second"));
    const std::string second = testing::readFile(file("second"));
    EXPECT_NE(second.find("Varnello Bridge is already running: its window is shown."),
              std::string::npos)
        << second;
    // It never got as far as the ledger.
    EXPECT_EQ(second.find("Could not start Bridge"), std::string::npos) << second;
    EXPECT_GT(occurrences(first.output(), "varnello-window: "), windowsBefore) << first.output();

    const auto [exitStatus, lines] = status({}, "tray-status");
    EXPECT_EQ(exitStatus, 0) << lines;
    EXPECT_EQ(lines.rfind("Beschikbaar via wifi (TCP ", 0), 0u) << lines;
    EXPECT_NE(lines.find("\n0 iPads connected\n"), std::string::npos) << lines;

    EXPECT_TRUE(first.running());
    first.sendSignal(SIGTERM);
    EXPECT_EQ(first.waitForExit(10s), 0) << first.output();
}

TEST_F(SessionBusTest, FailedStartUpIsShownAsADesktopNotification) {
    if (std::filesystem::exists("/dev/snd/seq")) {
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    }
    ChildProcess server({VARNELLO_NOTIFICATION_SERVER}, environment(false), file("server"));
    ASSERT_TRUE(server.waitForOutput("ready", 10s)) << server.output();

    ChildProcess bridge({binary, "--midi=alsa"}, environment(true), file("failed"));
    ASSERT_TRUE(bridge.waitForOutput("Could not start Bridge: ", 20s)) << bridge.output();
    ASSERT_TRUE(server.waitForOutput("notification: ", 10s)) << server.output();
    EXPECT_NE(server.output().find("notification: Varnello Bridge could not start|CoreMIDI could "
                                   "not perform \u2018"),
              std::string::npos)
        << server.output();
    EXPECT_EQ(occurrences(server.output(), "notification: "), 1u) << server.output();
    // The service, which ends at once with status 1, sends it before it goes.
    EXPECT_EQ(testing::runToEnd({binary, "--headless", "--midi=alsa"}, environment(false),
                                file("failed-headless"), 20s),
              1);
    EXPECT_EQ(occurrences(server.output(), "notification: Varnello Bridge could not start|"), 2u)
        << server.output();
    // It answers for its start-up error.
    const auto [exitStatus, lines] = status({}, "failed-status");
    EXPECT_EQ(exitStatus, 0) << lines;
    EXPECT_EQ(lines.rfind("Startup error: CoreMIDI could not perform \u2018", 0), 0u) << lines;
    bridge.sendSignal(SIGTERM);
    EXPECT_EQ(bridge.waitForExit(10s), 0) << bridge.output();
}

TEST_F(SessionBusTest, ANotificationServerThatNeverAnswersIsLoggedOnce) {
    if (std::filesystem::exists("/dev/snd/seq")) {
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    }
    ChildProcess server({VARNELLO_NOTIFICATION_SERVER, "--silent"}, environment(false),
                        file("silent-server"));
    ASSERT_TRUE(server.waitForOutput("ready", 10s)) << server.output();
    ChildProcess bridge({binary, "--midi=alsa"}, environment(true), file("silent"));
    ASSERT_TRUE(bridge.waitForOutput("Could not start Bridge: ", 20s)) << bridge.output();
    // Meanwhile it answers.
    EXPECT_EQ(status({}, "silent-status").first, 0);
    ASSERT_TRUE(bridge.waitForOutput("No desktop notification server answered", 15s))
        << bridge.output();
    EXPECT_EQ(occurrences(bridge.output(), "No desktop notification server answered"), 1u);
    EXPECT_TRUE(bridge.running());
    bridge.sendSignal(SIGTERM);
    EXPECT_EQ(bridge.waitForExit(10s), 0) << bridge.output();
}

TEST_F(SessionBusTest, SetAsideBetweenShowsGivesAFreshStartAndKeepsTheOldFiles) {
    if (!jackAvailable()) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    const auto ledgerFolder = folder.path() / "data" / "TessaroBridge";
    {
        CommandLedger ledger(
            ledgerFolder / "command-ledger.json", std::make_shared<PosixLedgerFileSystem>(),
            CommandLedger::standardMaximumEntries, CommandLedger::standardTombstoneBitCount,
            CommandLedger::standardTombstoneHashCount,
            CommandLedger::standardTombstoneMaximumInsertions);
        for (int i = 0; i < 3; ++i) {
            ledger.reserve(Uuid::random());
        }
    }
    const std::string ledgerBytes = testing::readFile(ledgerFolder / "command-ledger.json");
    const std::string tombstoneBytes =
        testing::readFile(ledgerFolder / "command-ledger.tombstones-v1.bin");
    {
        ChildProcess bridge({binary, "--headless", "--midi=jack"}, environment(false),
                            file("show"));
        ASSERT_TRUE(bridge.waitForOutput("Server status: Beschikbaar via wifi (TCP ", 20s))
            << bridge.output();
        const auto [exitStatus, lines] = status({}, "show-status");
        EXPECT_NE(lines.find("Command ledger: 3 of 250000 insertions (0%)\n"), std::string::npos)
            << lines;
        EXPECT_EQ(testing::runToEnd({binary, "ledger", "set-aside", "--yes"}, environment(false),
                                    file("refused"), 20s),
                  1);
        bridge.sendSignal(SIGTERM);
        ASSERT_EQ(bridge.waitForExit(10s), 0) << bridge.output();
    }
    // A dry run first, then the real one.
    EXPECT_EQ(testing::runToEnd({binary, "ledger", "set-aside"}, environment(false),
                                file("dry-run"), 20s),
              0);
    EXPECT_TRUE(std::filesystem::exists(ledgerFolder / "command-ledger.json"));
    EXPECT_EQ(testing::runToEnd({binary, "ledger", "set-aside", "--yes"}, environment(false),
                                file("set-aside"), 20s),
              0)
        << testing::readFile(file("set-aside"));
    std::vector<std::filesystem::path> setAside;
    for (const auto& entry : std::filesystem::directory_iterator(ledgerFolder)) {
        if (entry.path().filename().string().rfind("set-aside-", 0) == 0) {
            setAside.push_back(entry.path());
        }
    }
    ASSERT_EQ(setAside.size(), 1u);
    EXPECT_EQ(testing::readFile(setAside[0] / "command-ledger.json"), ledgerBytes);
    EXPECT_EQ(testing::readFile(setAside[0] / "command-ledger.tombstones-v1.bin"), tombstoneBytes);

    ChildProcess fresh({binary, "--headless", "--midi=jack"}, environment(false), file("fresh"));
    ASSERT_TRUE(fresh.waitForOutput("Server status: Beschikbaar via wifi (TCP ", 20s))
        << fresh.output();
    const auto [exitStatus, lines] = status({}, "fresh-status");
    EXPECT_EQ(exitStatus, 0) << lines;
    EXPECT_NE(lines.find("Command ledger: 0 of 250000 insertions (0%)\n"), std::string::npos)
        << lines;
    fresh.sendSignal(SIGTERM);
    EXPECT_EQ(fresh.waitForExit(10s), 0) << fresh.output();
}

// Something else holds the bridge's name and answers none of its calls: the commands
// say what they could not do, and a tray start serves all the same.
TEST_F(SessionBusTest, ANameHolderThatIsNoBridgeIsReportedAndTheTrayStartsAnyway) {
    if (!jackAvailable()) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    ChildProcess squatter({VARNELLO_NOTIFICATION_SERVER, "--name", "orvane.TessaroBridge"},
                          environment(false), file("squatter"));
    ASSERT_TRUE(squatter.waitForOutput("ready", 10s)) << squatter.output();
    const auto [exitStatus, output] = status({}, "squatted");
    EXPECT_EQ(exitStatus, 1) << output;
    EXPECT_EQ(
        output.rfind("Varnello Bridge is running but did not answer over the session D-Bus.", 0),
        0u)
        << output;

    ChildProcess tray({binary, "--midi=jack"}, environment(true), file("tray"));
    ASSERT_TRUE(tray.waitForOutput("Server status: Beschikbaar via wifi (TCP ", 20s))
        << tray.output();
    EXPECT_NE(tray.output().find("did not answer over the session D-Bus"), std::string::npos);
    tray.sendSignal(SIGTERM);
    EXPECT_EQ(tray.waitForExit(10s), 0) << tray.output();
}

} // namespace
} // namespace varnello
