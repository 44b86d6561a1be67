#pragma once

#include "app/BridgeWindow.h"
#include "app/StatusMenuFrontEnd.h"
#include "support/Logger.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

namespace varnello {

// The tray icon and its menu, drawn with Qt Widgets, and, where the desktop offers no
// tray, the bridge's window with the same entries. Needs a QApplication; main thread
// only.
class QtTrayFrontEnd final : public StatusMenuFrontEnd {
public:
    using ActionHandler = std::function<void(MenuAction)>;

    // `printMenus`: write each menu, and the window's entries, as rendered, to
    // standard error (the VARNELLO_PRINT_MENU diagnostic).
    QtTrayFrontEnd(Logger logger, bool printMenus);
    ~QtTrayFrontEnd() override;

    // Receives the chosen item's action, from the event loop, after the menu closed.
    void setActionHandler(ActionHandler handler);

    void becomeBackgroundApplication() override;
    void configureStatusItem() override;
    void showMenu(const TrayMenuModel& menu) override;
    std::optional<OSCSettingsForm> runOSCSettingsDialog(const OSCSettingsForm& form) override;
    void showError(const std::string& message) override;
    void copyPlainText(const std::string& text) override;
    void terminate() override;

    // Shows the window in front, creating it when there is none yet, unless the tray
    // shows the icon and the window was never needed: then false.
    bool showWindow();

    // The menu shown now; null before the first showMenu.
    const QMenu* menu() const noexcept { return menu_.get(); }
    // The window; null while none was needed.
    BridgeWindow* window() const noexcept { return window_.get(); }

    // The menu as Qt holds it, read back into plain data.
    static TrayMenuModel renderedModel(const QMenu& menu);

private:
    void dispatch(MenuAction action);
    void createWindow();
    void printRendered();

    struct LaterDeleter {
        void operator()(QMenu* menu) const { menu->deleteLater(); }
    };

    Logger logger_;
    bool printMenus_;
    ActionHandler actionHandler_;
    // Context of the queued calls to the handler; lives as long as the front end.
    QObject dispatcher_;
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
    // Replaced while one of its own items may be running: deleted from the event loop.
    std::unique_ptr<QMenu, LaterDeleter> menu_;
    // The last model shown, for a window created later.
    TrayMenuModel model_;
    std::unique_ptr<BridgeWindow> window_;
    enum class WindowState {
        notNeeded,
        dueWithFirstModel,
        presented
    } windowState_ = WindowState::notNeeded;
};

} // namespace varnello
