#pragma once

#include <QIcon>
#include <QPalette>

namespace varnello {

// The note-list symbol built into the program, drawn in the palette's text
// colour so that it follows a light or dark desktop as a template image does.
// A null icon when the symbol cannot be loaded. Needs a QGuiApplication; main
// thread only.
QIcon makeTrayIcon(const QPalette& palette);

} // namespace varnello
