#include "app/TrayMenuModel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace varnello {
namespace {

using CheckMark = MenuEntry::CheckMark;

RunningBridgeView readyBridge(std::int64_t clients = 0) {
    return RunningBridgeView{BridgeServerState::ready(40123), clients, OSCForwardingConfiguration{},
                             LedgerFill{}};
}

const MenuEntry& entryTitled(const TrayMenuModel& menu, const std::string& title) {
    for (const MenuEntry& entry : menu) {
        if (entry.title == title) {
            return entry;
        }
    }
    ADD_FAILURE() << "no entry " << title;
    static const MenuEntry none;
    return none;
}

TEST(TrayMenuModel, FailedStartUpShowsOnlyTheErrorAndTheQuitItem) {
    const TrayMenuModel menu =
        makeTrayMenuModel(std::nullopt, "Another Varnello Bridge is already using the ledger.");
    const TrayMenuModel expected{
        MenuEntry::information("Varnello Bridge"),
        MenuEntry::information(
            "Startup error: Another Varnello Bridge is already using the ledger."),
        MenuEntry::separator(),
        MenuEntry::command("Stop Varnello Bridge", MenuAction::quitApplication, "Ctrl+Q"),
    };
    EXPECT_EQ(menu, expected);
    EXPECT_FALSE(menu[1].enabled);
    EXPECT_EQ(menu[1].action, MenuAction::none);
}

TEST(TrayMenuModel, FailedStartUpWithoutADescriptionSaysUnknown) {
    const TrayMenuModel menu = makeTrayMenuModel(std::nullopt, std::nullopt);
    ASSERT_EQ(menu.size(), 4u);
    EXPECT_EQ(menu[1].title, "Startup error: unknown");
}

TEST(TrayMenuModel, RunningBridgeShowsEveryEntryInOrder) {
    const TrayMenuModel menu = makeTrayMenuModel(readyBridge(), std::nullopt);
    const TrayMenuModel expected{
        MenuEntry::information("Varnello Bridge"),
        MenuEntry::information("Beschikbaar via wifi (TCP 40123)"),
        MenuEntry::information("0 iPads connected"),
        MenuEntry::separator(),
        MenuEntry::information("MIDI port: Varnello Bridge"),
        MenuEntry::command("OSC to 127.0.0.1:9000", MenuAction::toggleOSC, "", CheckMark::on),
        MenuEntry::command("OSC-instellingen\u2026", MenuAction::configureOSC, "Ctrl+,"),
        MenuEntry::separator(),
        MenuEntry::command("Kopieer Bridge-ID", MenuAction::copyBridgeIdentifier),
        MenuEntry::separator(),
        MenuEntry::command("Stop Varnello Bridge", MenuAction::quitApplication, "Ctrl+Q"),
    };
    EXPECT_EQ(menu, expected);
}

TEST(TrayMenuModel, ALaunchErrorIsNotShownBesideARunningBridge) {
    const TrayMenuModel menu = makeTrayMenuModel(readyBridge(), "stale");
    for (const MenuEntry& entry : menu) {
        EXPECT_EQ(entry.title.find("Startup error"), std::string::npos) << entry.title;
    }
}

TEST(TrayMenuModel, ClientCountLine) {
    const struct {
        std::int64_t count;
        const char* line;
    } cases[] = {
        {0, "0 iPads connected"},   {1, "1 iPad connected"},    {2, "2 iPads connected"},
        {11, "11 iPads connected"}, {-1, "-1 iPads connected"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(makeTrayMenuModel(readyBridge(c.count), std::nullopt)[2].title, c.line)
            << c.count;
        EXPECT_EQ(connectedClientsText(c.count), c.line);
    }
}

TEST(TrayMenuModel, StatusLineFollowsTheServerState) {
    const struct {
        BridgeServerState state;
        const char* line;
    } cases[] = {
        {BridgeServerState::starting(), "Starten\u2026"},
        {BridgeServerState::ready(1), "Beschikbaar via wifi (TCP 1)"},
        {BridgeServerState::waiting("no route"), "Waiting for network: no route"},
        {BridgeServerState::failed("denied"), "Network error: denied"},
        {BridgeServerState::stopped(), "Stopped"},
    };
    for (const auto& c : cases) {
        RunningBridgeView view = readyBridge();
        view.serverState = c.state;
        EXPECT_EQ(makeTrayMenuModel(view, std::nullopt)[1].title, c.line);
    }
}

TEST(TrayMenuModel, OSCEntryShowsDestinationAndCheckMark) {
    const struct {
        OSCForwardingConfiguration configuration;
        const char* title;
        CheckMark mark;
    } cases[] = {
        {{true, "127.0.0.1", 9000}, "OSC to 127.0.0.1:9000", CheckMark::on},
        {{false, "127.0.0.1", 9000}, "OSC to 127.0.0.1:9000", CheckMark::off},
        {{true, "mixer.example", 1}, "OSC to mixer.example:1", CheckMark::on},
        {{false, "::1", 65535}, "OSC to ::1:65535", CheckMark::off},
    };
    for (const auto& c : cases) {
        RunningBridgeView view = readyBridge();
        view.oscConfiguration = c.configuration;
        const MenuEntry entry = makeTrayMenuModel(view, std::nullopt)[5];
        EXPECT_EQ(entry.title, c.title);
        EXPECT_EQ(entry.checkMark, c.mark) << c.title;
        EXPECT_TRUE(entry.enabled);
        EXPECT_EQ(entry.action, MenuAction::toggleOSC);
    }
}

TEST(TrayMenuModel, KeyEquivalentsAreCtrlQAndCtrlComma) {
    const TrayMenuModel menu = makeTrayMenuModel(readyBridge(), std::nullopt);
    EXPECT_EQ(entryTitled(menu, "Stop Varnello Bridge").shortcut, "Ctrl+Q");
    EXPECT_EQ(entryTitled(menu, "OSC-instellingen\u2026").shortcut, "Ctrl+,");
    int withShortcut = 0;
    for (const MenuEntry& entry : menu) {
        withShortcut += entry.shortcut.empty() ? 0 : 1;
    }
    EXPECT_EQ(withShortcut, 2);
}

TEST(TrayMenuModel, SettingsTitleEndsInTheSingleEllipsisCharacter) {
    const std::string title = makeTrayMenuModel(readyBridge(), std::nullopt)[6].title;
    EXPECT_EQ(title, "OSC-instellingen\xE2\x80\xA6");
    EXPECT_EQ(title.find("..."), std::string::npos);
}

TEST(TrayMenuModel, OnlyActionsAreEnabled) {
    for (const auto& menu :
         {makeTrayMenuModel(readyBridge(), std::nullopt), makeTrayMenuModel(std::nullopt, "x")}) {
        for (const MenuEntry& entry : menu) {
            EXPECT_EQ(entry.enabled, entry.action != MenuAction::none) << entry.title;
        }
    }
}

TEST(TrayMenuModel, DescriptionListsEveryEntryAsJson) {
    const auto described =
        nlohmann::json::parse(describeTrayMenu(makeTrayMenuModel(readyBridge(2), std::nullopt)));
    ASSERT_EQ(described.size(), 11u);
    EXPECT_EQ(described[2]["title"], "2 iPads connected");
    EXPECT_EQ(described[3]["separator"], true);
    EXPECT_EQ(described[5]["check"], "on");
    EXPECT_EQ(described[5]["action"], "toggleOSC");
    EXPECT_EQ(described[6]["shortcut"], "Ctrl+,");
    EXPECT_EQ(described[10]["action"], "quitApplication");
    EXPECT_EQ(described[0]["enabled"], false);
}

TEST(TrayMenuModel, DescriptionSurvivesTitlesThatAreNotUTF8) {
    RunningBridgeView view = readyBridge();
    view.oscConfiguration.host = "bad\xFF";
    const auto described =
        nlohmann::json::parse(describeTrayMenu(makeTrayMenuModel(view, std::nullopt)));
    EXPECT_EQ(described[5]["title"], "OSC to bad\xEF\xBF\xBD:9000");
}

} // namespace
} // namespace varnello
