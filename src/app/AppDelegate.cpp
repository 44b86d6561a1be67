#include "app/AppDelegate.h"

#include <cassert>
#include <exception>
#include <utility>

namespace varnello {

AppDelegate::AppDelegate(Logger logger, StatusMenuFrontEnd& frontEnd,
                         PreferencesFactory makePreferences, CoordinatorFactory makeCoordinator)
    : logger_(std::move(logger)), frontEnd_(frontEnd), makePreferences_(std::move(makePreferences)),
      makeCoordinator_(std::move(makeCoordinator)), mainThread_(std::this_thread::get_id()) {}

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
        coordinator_->onSnapshotChange = [weak = weak_from_this()](const BridgeRuntimeSnapshot&) {
            if (auto self = weak.lock()) {
                self->rebuildMenu();
            }
        };
        coordinator_->start();
    } catch (const std::exception& error) {
        coordinator_.reset();
        launchError_ = error.what();
        logger_.error("Could not start Bridge: " + *launchError_);
    }
    rebuildMenu();
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
        return makeTrayMenuModel(std::nullopt, launchError_);
    }
    return makeTrayMenuModel(RunningBridgeView{coordinator_->serverState(),
                                               coordinator_->connectedClientCount(),
                                               preferences_->oscConfiguration()},
                             launchError_);
}

void AppDelegate::rebuildMenu() {
    assertOnMainThread();
    frontEnd_.showMenu(menuModel());
}

} // namespace varnello
