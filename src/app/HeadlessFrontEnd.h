#pragma once

#include "app/StatusMenuFrontEnd.h"

namespace varnello {

// The service's front end: nothing to draw, no one to ask. Ending it ends the
// QCoreApplication's event loop. Main thread only.
class HeadlessFrontEnd final : public StatusMenuFrontEnd {
public:
    void becomeBackgroundApplication() override {}
    void configureStatusItem() override {}
    void showMenu(const TrayMenuModel&) override {}
    std::optional<OSCSettingsForm> runOSCSettingsDialog(const OSCSettingsForm&) override {
        return std::nullopt;
    }
    void showError(const std::string&) override {}
    void copyPlainText(const std::string&) override {}
    void terminate() override;
};

} // namespace varnello
