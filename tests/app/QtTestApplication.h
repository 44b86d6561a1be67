#pragma once

#include <QApplication>

namespace varnello::testing {

// One QApplication for the whole test binary, on Qt's offscreen platform, so that
// widgets, the clipboard and the event loop work without a display.
inline QApplication& qtTestApplication() {
    static int argc = 1;
    static char name[] = "app_qt_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static QApplication application(argc, argv);
    }
    return *qobject_cast<QApplication*>(QApplication::instance());
}

} // namespace varnello::testing
