#pragma once

#include "app/DesktopNotifier.h"
#include "app/MenuEntry.h"
#include "app/OperatorText.h"
#include "app/StatusMenuFrontEnd.h"
#include "app/TrayMenuModel.h"
#include "core/BridgeCoordinator.h"
#include "core/BridgePreferences.h"
#include "support/Logger.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace varnello {

// The application shell: at launch it creates the preferences and the
// coordinator and starts it, keeps the menu in step with the bridge, and carries
// out the menu's four commands. Drawing is left to a StatusMenuFrontEnd, so the
// same start-up serves the tray and the headless service.
//
// Must be owned by a std::shared_ptr (the snapshot handler holds it weakly).
// Main thread only.
class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
public:
    using PreferencesFactory = std::function<std::shared_ptr<BridgePreferences>()>;
    // May throw; the exception's text is shown as the start-up error.
    using CoordinatorFactory =
        std::function<std::shared_ptr<BridgeCoordinator>(std::shared_ptr<BridgePreferences>)>;

    // The fills at which the log and the desktop are told how full the ledger is.
    static constexpr int ledgerWarningPercents[] = {80, 90, 95, 99, 100};

    // `logger`: category "lifecycle". `frontEnd` and `notifier` (when given) must
    // outlive the delegate.
    AppDelegate(Logger logger, StatusMenuFrontEnd& frontEnd, PreferencesFactory makePreferences,
                CoordinatorFactory makeCoordinator, DesktopNotifier* notifier = nullptr);
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void applicationDidFinishLaunching();
    // Stops the server (when there is one) and lets it answer what is pending, for
    // at most the coordinator's grace time. False when its queue was left stuck
    // in a handler: the process must then end at once, destroying nothing.
    bool applicationWillTerminate();

    void perform(MenuAction action);
    void toggleOSC();
    void configureOSC();
    void copyBridgeIdentifier();
    void quitApplication();

    void rebuildMenu();
    // The menu as it would be built now.
    TrayMenuModel menuModel() const;

    const std::shared_ptr<BridgeCoordinator>& coordinator() const noexcept { return coordinator_; }
    const std::optional<std::string>& launchError() const noexcept { return launchError_; }

private:
    void assertOnMainThread() const noexcept;
    void observe(const BridgeRuntimeSnapshot& snapshot);
    void noteLedgerFill(const LedgerFill& fill);
    void noteServerState(const BridgeServerState& state);
    void notify(OperatorText summary, const std::string& body);

    Logger logger_;
    StatusMenuFrontEnd& frontEnd_;
    PreferencesFactory makePreferences_;
    CoordinatorFactory makeCoordinator_;
    std::shared_ptr<BridgePreferences> preferences_;
    std::shared_ptr<BridgeCoordinator> coordinator_;
    std::optional<std::string> launchError_;
    LaunchErrorKind launchErrorKind_ = LaunchErrorKind::other;
    DesktopNotifier* notifier_;
    // The highest warning percent already told; 0 before the first.
    int toldLedgerPercent_ = 0;
    // Whether iPads were last told they cannot reach the listener, so that its
    // return is told once and only after that.
    enum class ListenerNotice { none, unreachable } listenerNotice_ = ListenerNotice::none;
    std::thread::id mainThread_;
};

} // namespace varnello
