#pragma once

#include "app/OSCSettingsForm.h"
#include "app/TrayMenuModel.h"

#include <optional>
#include <string>

namespace varnello {

// What the application shows and what the user touches, drawn by a toolkit (the
// Qt tray) or by nothing at all (the headless service). Main thread only.
class StatusMenuFrontEnd {
public:
    virtual ~StatusMenuFrontEnd() = default;

    // A background application: no main window, and closing a dialog does not end it.
    virtual void becomeBackgroundApplication() = 0;
    // The tray icon with its tool tip.
    virtual void configureStatusItem() = 0;
    // Replaces the whole menu with this one.
    virtual void showMenu(const TrayMenuModel& menu) = 0;
    // Runs the OSC settings dialog modally, filled with `form`, in front of every
    // other window; the texts when "Save" was chosen, nothing on "Cancel".
    virtual std::optional<OSCSettingsForm> runOSCSettingsDialog(const OSCSettingsForm& form) = 0;
    // A modal error message.
    virtual void showError(const std::string& message) = 0;
    // Replaces the clipboard's contents with this plain text.
    virtual void copyPlainText(const std::string& text) = 0;
    // Asks the event loop to end; the application's termination follows.
    virtual void terminate() = 0;
};

} // namespace varnello
