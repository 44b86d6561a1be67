#include "app/MenuEntry.h"

#include <utility>

namespace varnello {

MenuEntry MenuEntry::information(std::string title) {
    MenuEntry entry;
    entry.title = std::move(title);
    return entry;
}

MenuEntry MenuEntry::command(std::string title, MenuAction action, std::string shortcut,
                             CheckMark checkMark) {
    MenuEntry entry;
    entry.title = std::move(title);
    entry.enabled = true;
    entry.action = action;
    entry.shortcut = std::move(shortcut);
    entry.checkMark = checkMark;
    return entry;
}

MenuEntry MenuEntry::separator() {
    MenuEntry entry;
    entry.kind = Kind::separator;
    return entry;
}

} // namespace varnello
