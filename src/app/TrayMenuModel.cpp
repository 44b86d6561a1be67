#include "app/TrayMenuModel.h"

#include "app/OperatorText.h"

#include <nlohmann/json.hpp>

namespace varnello {

namespace {

const char* actionName(MenuAction action) noexcept {
    switch (action) {
    case MenuAction::none:
        return "none";
    case MenuAction::toggleOSC:
        return "toggleOSC";
    case MenuAction::configureOSC:
        return "configureOSC";
    case MenuAction::copyBridgeIdentifier:
        return "copyBridgeIdentifier";
    case MenuAction::quitApplication:
        return "quitApplication";
    }
    return "none";
}

const char* checkMarkName(MenuEntry::CheckMark mark) noexcept {
    switch (mark) {
    case MenuEntry::CheckMark::none:
        return "none";
    case MenuEntry::CheckMark::off:
        return "off";
    case MenuEntry::CheckMark::on:
        return "on";
    }
    return "none";
}

} // namespace

std::string connectedClientsText(std::int64_t count) {
    if (count == 1) {
        return "1 iPad connected";
    }
    return std::to_string(count) + " iPads connected";
}

std::string oscDestinationText(const OSCForwardingConfiguration& osc) {
    return "OSC to " + osc.host + ":" + std::to_string(osc.port);
}

TrayMenuModel makeTrayMenuModel(const std::optional<RunningBridgeView>& running,
                                const std::optional<std::string>& launchError,
                                LaunchErrorKind launchErrorKind) {
    const auto ledgerStatusPointer = [] {
        return MenuEntry::information(std::string(operatorText(OperatorText::ledgerStatusPointer)));
    };
    TrayMenuModel menu;
    menu.push_back(MenuEntry::information("Varnello Bridge"));
    if (running) {
        const OSCForwardingConfiguration& osc = running->oscConfiguration;
        menu.push_back(MenuEntry::information(running->serverState.statusText()));
        menu.push_back(MenuEntry::information(connectedClientsText(running->connectedClientCount)));
        menu.push_back(MenuEntry::separator());
        menu.push_back(MenuEntry::information("MIDI port: Varnello Bridge"));
        if (const int percent = running->ledgerFill.percent();
            percent >= ledgerFillShownFromPercent) {
            menu.push_back(MenuEntry::information(ledgerFillLine(percent)));
            if (running->ledgerFill.full()) {
                menu.push_back(ledgerStatusPointer());
            }
        }
        menu.push_back(MenuEntry::command(oscDestinationText(osc), MenuAction::toggleOSC, {},
                                          osc.isEnabled ? MenuEntry::CheckMark::on
                                                        : MenuEntry::CheckMark::off));
        menu.push_back(
            MenuEntry::command("OSC-instellingen\u2026", MenuAction::configureOSC, "Ctrl+,"));
        menu.push_back(MenuEntry::separator());
        menu.push_back(MenuEntry::command("Kopieer Bridge-ID", MenuAction::copyBridgeIdentifier));
    } else {
        menu.push_back(MenuEntry::information("Startup error: " + launchError.value_or("unknown")));
        if (launchErrorKind == LaunchErrorKind::ledger) {
            menu.push_back(ledgerStatusPointer());
        }
    }
    menu.push_back(MenuEntry::separator());
    menu.push_back(
        MenuEntry::command("Stop Varnello Bridge", MenuAction::quitApplication, "Ctrl+Q"));
    return menu;
}

std::string describeTrayMenu(const TrayMenuModel& menu) {
    nlohmann::json entries = nlohmann::json::array();
    for (const MenuEntry& entry : menu) {
        if (entry.kind == MenuEntry::Kind::separator) {
            entries.push_back({{"separator", true}});
            continue;
        }
        entries.push_back({{"title", entry.title},
                           {"enabled", entry.enabled},
                           {"action", actionName(entry.action)},
                           {"shortcut", entry.shortcut},
                           {"check", checkMarkName(entry.checkMark)}});
    }
    // Titles come from the network and the preferences: never let a bad byte
    // stop the dump.
    return entries.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace varnello
