#pragma once

#include "app/DesktopNotifier.h"
#include "support/Logger.h"

#include <QObject>
#include <chrono>

namespace varnello {

// Desktop notifications through org.freedesktop.Notifications on the session bus.
// Each is sent without waiting; the first one that finds no server, or gets no
// answer in time, is logged once, and later ones keep trying silently. Needs a
// QCoreApplication; main thread only.
class DBusDesktopNotifier final : public DesktopNotifier {
public:
    static constexpr std::chrono::milliseconds answerLimit{5000};

    explicit DBusDesktopNotifier(Logger logger);

    void notify(const std::string& summary, const std::string& body) override;

    // Runs the event loop until every notification sent has its answer, for at most
    // `limit`: a program about to exit would otherwise take them along unsent.
    void finishPending(std::chrono::milliseconds limit);

private:
    void reportFailure(const std::string& detail);

    Logger logger_;
    // Context of the pending calls' watchers.
    QObject context_;
    int pending_ = 0;
    enum class Told { nothing, unavailable } told_ = Told::nothing;
};

} // namespace varnello
