#pragma once

#include "app/TrayMenuModel.h"

#include <QWidget>
#include <functional>

class QCloseEvent;
class QVBoxLayout;

namespace varnello {

// The bridge's window for desktops without a system tray: the menu's entries, from
// the same model, drawn as a small window titled "Varnello Bridge". Information lines
// are greyed labels, the OSC switch a check box, the other commands buttons. Closing
// it hides it; the bridge keeps running, and says so the first time. Needs a
// QApplication; main thread only.
class BridgeWindow final : public QWidget {
public:
    using ActionHandler = std::function<void(MenuAction)>;

    // `onAction` receives the chosen entry's action, from the event loop.
    explicit BridgeWindow(ActionHandler onAction);

    // Replaces every entry with those of `model`.
    void showModel(const TrayMenuModel& model);

    // The entries as the widgets hold them, read back into plain data.
    TrayMenuModel renderedModel() const;

    // Shows it in front of the other windows.
    void present();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void addEntry(QVBoxLayout& layout, const MenuEntry& entry);

    ActionHandler onAction_;
    QVBoxLayout* layout_;
    // The entries' own widget, replaced as a whole on every model.
    QWidget* entries_ = nullptr;
    enum class Farewell { due, told } farewell_ = Farewell::due;
};

} // namespace varnello
