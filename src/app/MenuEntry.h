#pragma once

#include <string>

namespace varnello {

// What choosing a menu item asks the application to do.
enum class MenuAction { none, toggleOSC, configureOSC, copyBridgeIdentifier, quitApplication };

// One line of the tray menu as plain data, so that its content can be checked
// without a display and rendered by any toolkit. A plain value; thread-safe.
struct MenuEntry {
    enum class Kind { item, separator };
    enum class CheckMark { none, off, on };

    Kind kind = Kind::item;
    std::string title;
    bool enabled = false;
    MenuAction action = MenuAction::none;
    // The key equivalent in Qt's portable form ("Ctrl+Q"); empty when none.
    std::string shortcut;
    CheckMark checkMark = CheckMark::none;

    // A greyed information line.
    static MenuEntry information(std::string title);
    static MenuEntry command(std::string title, MenuAction action, std::string shortcut = {},
                             CheckMark checkMark = CheckMark::none);
    static MenuEntry separator();

    friend bool operator==(const MenuEntry&, const MenuEntry&) = default;
};

} // namespace varnello
