#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace varnello {

// The bridge on the user's session D-Bus: one well-known name per session, so that a
// second start finds the first, and `varnello-bridge status` asks it how it is doing.
//
// Interface orvane.TessaroBridge at /orvane/TessaroBridge:
//   ShowWindow() -> b   shows the window; false when there is none to show (the tray
//                       icon is visible, or the bridge runs as a service)
//   Status() -> s       the status report, one JSON object
namespace sessionbus {
inline constexpr const char* name = "orvane.TessaroBridge";
inline constexpr const char* path = "/orvane/TessaroBridge";
inline constexpr const char* interface = "orvane.TessaroBridge";
} // namespace sessionbus

// Answers the interface's calls from the event loop. Main thread only.
class SessionBusService final : public QDBusVirtualObject {
public:
    SessionBusService(std::function<bool()> showWindow, std::function<std::string()> status);

    enum class Registration { registered, nameTaken, noBus };

    // Exports the object and takes the name on `connection`, never replacing another
    // holder. The object stays exported while it lives.
    Registration registerOn(QDBusConnection connection);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    std::function<bool()> showWindow_;
    std::function<std::string()> status_;
};

// What a call to the bridge that holds the name got.
struct RunningBridgeAnswer {
    enum class Outcome { answered, notRunning, noAnswer };
    Outcome outcome = Outcome::notRunning;
    // ShowWindow's answer, or Status's text.
    bool shown = false;
    std::string text;
};

// Calls one method of the bridge holding the name on the session bus, waiting at
// most `limit`. notRunning when there is no bus or no holder. Needs a
// QCoreApplication; main thread.
RunningBridgeAnswer callRunningBridge(const char* method, std::chrono::milliseconds limit);

} // namespace varnello
