#pragma once

#include "app/MenuEntry.h"
#include "ledger/LedgerFill.h"
#include "outputs/OSCForwardingConfiguration.h"
#include "server/BridgeServerState.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnello {

// The tray menu, top to bottom.
using TrayMenuModel = std::vector<MenuEntry>;

// What the menu shows of a bridge whose coordinator exists, read at rebuild time.
struct RunningBridgeView {
    BridgeServerState serverState = BridgeServerState::stopped();
    std::int64_t connectedClientCount = 0;
    OSCForwardingConfiguration oscConfiguration;
    LedgerFill ledgerFill;
};

// From this fill on, the menu shows how full the ledger is.
inline constexpr int ledgerFillShownFromPercent = 80;

// Why the bridge could not start, as far as the menu cares: a ledger that needs a
// person's attention gets a line that points to the ledger command.
enum class LaunchErrorKind { other, ledger };

// The menu for a running bridge, or, without one, the reduced menu that shows why
// it could not start. A pure function; thread-safe.
TrayMenuModel makeTrayMenuModel(const std::optional<RunningBridgeView>& running,
                                const std::optional<std::string>& launchError,
                                LaunchErrorKind launchErrorKind = LaunchErrorKind::other);

// "OSC to <host>:<port>".
std::string oscDestinationText(const OSCForwardingConfiguration& osc);

// "1 iPad connected", otherwise "<count> iPads connected".
std::string connectedClientsText(std::int64_t count);

// The menu as one line of JSON, for the diagnostic printed when
// VARNELLO_PRINT_MENU is set (see the README's "Diagnostics").
std::string describeTrayMenu(const TrayMenuModel& menu);

} // namespace varnello
