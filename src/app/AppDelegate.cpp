#include "app/AppDelegate.h"

#include "ledger/CommandLedgerError.h"

#include <cassert>
#include <exception>
#include <utility>

namespace varnello {

AppDelegate::AppDelegate(Logger logger, StatusMenuFrontEnd& frontEnd,
                         PreferencesFactory makePreferences, CoordinatorFactory makeCoordinator,
                         DesktopNotifier* notifier)
    : logger_(std::move(logger)), frontEnd_(frontEnd), makePreferences_(std::move(makePreferences)),
      makeCoordinator_(std::move(makeCoordinator)), notifier_(notifier),
      mainThread_(std::this_thread::get_id()) {}

void AppDelegate::assertOnMainThread() const noexcept {
    assert(std::this_thread::get_id() == mainThread_);
}

void AppDelegate::applicationDidFinishLaunching() {
    assertOnMainThread();
    logger_.info("Varnello Bridge start");
    frontEnd_.becomeBackgroundApplication();
    frontEnd_.configureStatusItem();
    try {
        preferences_ = makePreferences_();
        coordinator_ = makeCoordinator_(preferences_);
        logger_.info("Bridge-coordinator gereed: " + coordinator_->identity().id);
        coordinator_->onSnapshotChange =
            [weak = weak_from_this()](const BridgeRuntimeSnapshot& snapshot) {
                if (auto self = weak.lock()) {
                    self->observe(snapshot);
                    self->rebuildMenu();
                }
            };
        noteLedgerFill(coordinator_->ledgerFill());
        coordinator_->start();
    } catch (const std::exception& error) {
        coordinator_.reset();
        launchError_ = error.what();
        // A damaged or over-long ledger stays so until a person looks after it.
        launchErrorKind_ = dynamic_cast<const CommandLedgerError*>(&error) != nullptr
                               ? LaunchErrorKind::ledger
                               : LaunchErrorKind::other;
        logger_.error("Could not start Bridge: " + *launchError_);
        std::string body = *launchError_;
        if (launchErrorKind_ == LaunchErrorKind::ledger) {
            logger_.error(std::string(operatorText(OperatorText::ledgerStatusPointer)));
            body += "\n" + std::string(operatorText(OperatorText::ledgerStatusPointer));
        }
        notify(OperatorText::startupFailedNotification, body);
    }
    rebuildMenu();
}

void AppDelegate::observe(const BridgeRuntimeSnapshot& snapshot) {
    assertOnMainThread();
    noteLedgerFill(snapshot.ledgerFill);
    noteServerState(snapshot.serverState);
}

void AppDelegate::noteLedgerFill(const LedgerFill& fill) {
    const int percent = fill.percent();
    int passed = 0;
    for (const int warning : ledgerWarningPercents) {
        if (percent >= warning) {
            passed = warning;
        }
    }
    if (passed <= toldLedgerPercent_) {
        return;
    }
    toldLedgerPercent_ = passed;
    const std::string message = ledgerThresholdMessage(percent);
    logger_.error(message);
    std::string body = message;
    if (fill.full()) {
        logger_.error(std::string(operatorText(OperatorText::ledgerStatusPointer)));
        body += "\n" + std::string(operatorText(OperatorText::ledgerStatusPointer));
    }
    notify(OperatorText::ledgerFillNotification, body);
}

void AppDelegate::noteServerState(const BridgeServerState& state) {
    switch (state.kind()) {
    case BridgeServerState::Case::failed:
    case BridgeServerState::Case::waiting:
        if (listenerNotice_ == ListenerNotice::none) {
            listenerNotice_ = ListenerNotice::unreachable;
            notify(OperatorText::listenerProblemNotification, state.statusText());
        }
        return;
    case BridgeServerState::Case::ready:
        if (listenerNotice_ == ListenerNotice::unreachable) {
            listenerNotice_ = ListenerNotice::none;
            notify(OperatorText::listenerReadyAgainNotification, state.statusText());
        }
        return;
    case BridgeServerState::Case::starting:
    case BridgeServerState::Case::stopped:
        return;
    }
}

void AppDelegate::notify(OperatorText summary, const std::string& body) {
    if (notifier_ != nullptr) {
        notifier_->notify(std::string(operatorText(summary)), body);
    }
}

bool AppDelegate::applicationWillTerminate() {
    assertOnMainThread();
    return !coordinator_ || coordinator_->finishServer(BridgeCoordinator::stopGrace);
}

void AppDelegate::perform(MenuAction action) {
    switch (action) {
    case MenuAction::none:
        return;
    case MenuAction::toggleOSC:
        toggleOSC();
        return;
    case MenuAction::configureOSC:
        configureOSC();
        return;
    case MenuAction::copyBridgeIdentifier:
        copyBridgeIdentifier();
        return;
    case MenuAction::quitApplication:
        quitApplication();
        return;
    }
}

void AppDelegate::toggleOSC() {
    assertOnMainThread();
    if (!coordinator_) {
        return;
    }
    const OSCForwardingConfiguration configuration = preferences_->oscConfiguration();
    try {
        preferences_->setOSCForwardingEnabled(!configuration.isEnabled);
    } catch (const BridgePreferencesError& error) {
        frontEnd_.showError(error.message());
    }
    rebuildMenu();
}

void AppDelegate::configureOSC() {
    assertOnMainThread();
    if (!coordinator_) {
        return;
    }
    const auto form = OSCSettingsForm::filledFrom(preferences_->oscConfiguration());
    const auto answer = frontEnd_.runOSCSettingsDialog(form);
    if (!answer) {
        return;
    }
    if (const auto refusal = answer->save(*preferences_)) {
        frontEnd_.showError(refusal->message());
        return;
    }
    rebuildMenu();
}

void AppDelegate::copyBridgeIdentifier() {
    assertOnMainThread();
    if (!coordinator_) {
        return;
    }
    frontEnd_.copyPlainText(coordinator_->identity().id);
}

void AppDelegate::quitApplication() {
    assertOnMainThread();
    frontEnd_.terminate();
}

TrayMenuModel AppDelegate::menuModel() const {
    assertOnMainThread();
    if (!coordinator_) {
        return makeTrayMenuModel(std::nullopt, launchError_, launchErrorKind_);
    }
    return makeTrayMenuModel(
        RunningBridgeView{coordinator_->serverState(), coordinator_->connectedClientCount(),
                          preferences_->oscConfiguration(), coordinator_->ledgerFill()},
        launchError_);
}

void AppDelegate::rebuildMenu() {
    assertOnMainThread();
    frontEnd_.showMenu(menuModel());
}

} // namespace varnello
