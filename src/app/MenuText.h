#pragma once

#include <QString>
#include <string>

namespace varnello {

// Qt reads a single "&" in a menu item's or a button's text as the marker of its
// keyboard mnemonic and hides it. Texts here come from host names, server states and
// error messages, and must show exactly as given. Thread-safe.

// The text to hand to QAction or QAbstractButton so that it shows as `text`.
QString mnemonicFree(const std::string& text);

// The text such a widget shows, from what it holds.
std::string shownText(const QString& held);

} // namespace varnello
