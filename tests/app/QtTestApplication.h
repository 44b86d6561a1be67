#pragma once

#include <QApplication>

namespace varnello::testing {

// One QApplication for the whole test binary, on Qt's offscreen platform, so that
// widgets, the clipboard and the event loop work without a display. It is never
// destroyed: torn down among the exit handlers, after a modal dialog has run, Qt
// frees its input devices after what they point to and crashes the test binary.
inline QApplication& qtTestApplication() {
    static int argc = 1;
    static char name[] = "app_qt_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static auto* application = new QApplication(argc, argv);
        (void)application;
    }
    return *qobject_cast<QApplication*>(QApplication::instance());
}

} // namespace varnello::testing
