#pragma once

#include <string>
#include <string_view>

namespace varnello {

// The texts the program says to the person who looks after it, beyond the menu's
// own: in the window, the log, desktop notifications and the status and ledger
// commands. All of them are here, so that each has one wording. Thread-safe.
enum class OperatorText {
    noTrayShowsWindow,
    windowClosedKeepsRunning,
    ledgerFull,
    ledgerStatusPointer,
    notRunning,
    sessionBusUnavailable,
    sessionBusNameTaken,
    shownRunningWindow,
    runningWithoutWindow,
    noAnswerFromRunningBridge,
    notificationServerUnavailable,
    startupFailedNotification,
    listenerReadyAgainNotification,
    listenerProblemNotification,
    ledgerFillNotification,
};

std::string_view operatorText(OperatorText text) noexcept;

// "Command ledger 83% full", or the full line at 100%.
std::string ledgerFillLine(int percent);

// The log line when the ledger passes a warning threshold.
std::string ledgerThresholdMessage(int percent);

} // namespace varnello
