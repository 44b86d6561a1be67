// The tray as a person sees it: tray-shot runs the real binary on a private X
// server with a tray host, clicks the icon and photographs the tray and the open
// menu. The menu's items are read back from the running program, as Qt holds
// them, through its VARNELLO_PRINT_MENU diagnostic.

#include "ChildProcess.h"
#include "support/TemporaryFolder.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

namespace varnello {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

class TrayShotTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(trayShot)) {
            GTEST_SKIP() << "tray-shot is not beside this checkout: " << trayShot;
        }
    }

    // Runs tray-shot on the bridge with these arguments; true when both
    // screenshots were taken (with the host "none": the window's).
    bool photograph(const std::vector<std::string>& arguments, const std::string& host = "xembed") {
        std::vector<std::string> command{"/bin/bash", trayShot,   "--out", shots.string(), "--host",
                                         host,        "--button", "right", "--",           binary};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const ChildProcess::Environment environment{
            {{"XDG_DATA_HOME", (folder.path() / "data").string()},
             {"XDG_CONFIG_HOME", (folder.path() / "config").string()},
             {"VARNELLO_PRINT_MENU", "1"}},
            {"JOURNAL_STREAM"}};
        // The first run on a fresh machine installs tray-shot's tools.
        const auto status =
            testing::runToEnd(command, environment, folder.path() / "tray-shot.out", 240s);
        return status == 0;
    }

    std::string trayShotOutput() const {
        return testing::readFile(folder.path() / "tray-shot.out");
    }

    // The last menu (or window) the program rendered before it was photographed and
    // stopped.
    nlohmann::json lastMenu(const std::string& prefix = "varnello-menu: ") const {
        std::istringstream log(testing::readFile(shots / "command.log"));
        std::string last;
        for (std::string line; std::getline(log, line);) {
            if (line.rfind(prefix, 0) == 0) {
                last = line.substr(prefix.size());
            }
        }
        return last.empty() ? nlohmann::json() : nlohmann::json::parse(last);
    }

    static bool isPNG(const std::filesystem::path& file) {
        return testing::readFile(file).rfind("\x89PNG\r\n\x1a\n", 0) == 0;
    }

    static std::vector<std::string> titles(const nlohmann::json& menu) {
        std::vector<std::string> result;
        for (const auto& entry : menu) {
            result.push_back(entry.contains("separator") ? "---"
                                                         : entry["title"].get<std::string>());
        }
        return result;
    }

    testing::TemporaryFolder folder;
    std::filesystem::path shots = folder.path() / "shots";
    const std::string binary = VARNELLO_BRIDGE_BINARY;
    const std::string trayShot = VARNELLO_TRAY_SHOT;
};

// The titles of a running bridge's entries, its state line read as "ready".
const std::vector<std::string> runningBridgeTitles{"Varnello Bridge",
                                                   "ready",
                                                   "0 iPads connected",
                                                   "---",
                                                   "MIDI port: Varnello Bridge",
                                                   "OSC to 127.0.0.1:9000",
                                                   "OSC-instellingen\u2026",
                                                   "---",
                                                   "Kopieer Bridge-ID",
                                                   "---",
                                                   "Stop Varnello Bridge"};

TEST_F(TrayShotTest, RunningBridgeShowsItsFullMenu) {
    if (std::getenv("VARNELLO_TEST_JACK") == nullptr) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    ASSERT_TRUE(photograph({"--midi=jack"})) << trayShotOutput();
    EXPECT_TRUE(isPNG(shots / "tray.png"));
    EXPECT_TRUE(isPNG(shots / "menu.png"));

    const nlohmann::json menu = lastMenu();
    ASSERT_EQ(menu.size(), 11u) << testing::readFile(shots / "command.log");
    auto shown = titles(menu);
    EXPECT_TRUE(std::regex_match(shown[1], std::regex(R"(Beschikbaar via wifi \(TCP \d+\))")))
        << shown[1];
    shown[1] = "ready";
    EXPECT_EQ(shown, runningBridgeTitles);
    EXPECT_EQ(menu[5]["check"], "on");
    EXPECT_EQ(menu[5]["enabled"], true);
    EXPECT_EQ(menu[6]["shortcut"], "Ctrl+,");
    EXPECT_EQ(menu[10]["shortcut"], "Ctrl+Q");
    for (const int information : {0, 1, 2, 4}) {
        EXPECT_EQ(menu[information]["enabled"], false) << information;
    }
}

TEST_F(TrayShotTest, FailedStartUpShowsTheErrorLine) {
    if (std::filesystem::exists("/dev/snd/seq")) {
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    }
    ASSERT_TRUE(photograph({"--midi=alsa"})) << trayShotOutput();
    EXPECT_TRUE(isPNG(shots / "tray.png"));
    EXPECT_TRUE(isPNG(shots / "menu.png"));

    const nlohmann::json menu = lastMenu();
    ASSERT_EQ(menu.size(), 4u) << testing::readFile(shots / "command.log");
    const auto shown = titles(menu);
    EXPECT_EQ(shown[0], "Varnello Bridge");
    EXPECT_EQ(shown[1].rfind("Startup error: CoreMIDI could not perform \u2018", 0), 0u)
        << shown[1];
    EXPECT_EQ(menu[1]["enabled"], false);
    EXPECT_EQ(shown[2], "---");
    EXPECT_EQ(shown[3], "Stop Varnello Bridge");
    EXPECT_EQ(menu[3]["shortcut"], "Ctrl+Q");
}

// Where the desktop has no tray (GNOME without its extension) the bridge shows its
// window, with the menu's entries.
TEST_F(TrayShotTest, WithoutATrayTheRunningBridgeShowsItsWindow) {
    if (std::getenv("VARNELLO_TEST_JACK") == nullptr) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    ASSERT_TRUE(photograph({"--midi=jack"}, "none")) << trayShotOutput();
    EXPECT_TRUE(isPNG(shots / "window.png"));

    const nlohmann::json window = lastMenu("varnello-window: ");
    ASSERT_EQ(window.size(), 11u) << testing::readFile(shots / "command.log");
    EXPECT_EQ(window, lastMenu());
    auto shown = titles(window);
    EXPECT_TRUE(std::regex_match(shown[1], std::regex(R"(Beschikbaar via wifi \(TCP \d+\))")))
        << shown[1];
    shown[1] = "ready";
    EXPECT_EQ(shown, runningBridgeTitles);
    EXPECT_EQ(window[5]["check"], "on");
    EXPECT_EQ(window[10]["shortcut"], "Ctrl+Q");
}

TEST_F(TrayShotTest, WithoutATrayAFailedStartUpShowsItsWindow) {
    if (std::filesystem::exists("/dev/snd/seq")) {
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    }
    ASSERT_TRUE(photograph({"--midi=alsa"}, "none")) << trayShotOutput();
    EXPECT_TRUE(isPNG(shots / "window.png"));

    const nlohmann::json window = lastMenu("varnello-window: ");
    ASSERT_EQ(window.size(), 4u) << testing::readFile(shots / "command.log");
    EXPECT_EQ(window, lastMenu());
    const auto shown = titles(window);
    EXPECT_EQ(shown[1].rfind("Startup error: CoreMIDI could not perform \u2018", 0), 0u)
        << shown[1];
    EXPECT_EQ(window[1]["enabled"], false);
    EXPECT_EQ(shown[3], "Stop Varnello Bridge");
}

// A StatusNotifierItem host (as KDE Plasma's, or GNOME's AppIndicator extension)
// draws the icon and the menu itself; then no window is needed.
TEST_F(TrayShotTest, AStatusNotifierHostShowsTheMenuAndNoWindow) {
    if (std::getenv("VARNELLO_TEST_JACK") == nullptr) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    ASSERT_TRUE(photograph({"--midi=jack"}, "sni")) << trayShotOutput();
    EXPECT_TRUE(isPNG(shots / "tray.png"));
    EXPECT_TRUE(isPNG(shots / "menu.png"));
    EXPECT_EQ(lastMenu().size(), 11u) << testing::readFile(shots / "command.log");
    EXPECT_TRUE(lastMenu("varnello-window: ").is_null())
        << testing::readFile(shots / "command.log");
}

} // namespace
} // namespace varnello
