#include "app/OperatorText.h"

#include "ledger/CommandLedgerError.h"

namespace varnello {

std::string_view operatorText(OperatorText text) noexcept {
    switch (text) {
    case OperatorText::noTrayShowsWindow:
        return "The desktop offers no system tray: Varnello Bridge shows its window instead.";
    case OperatorText::windowClosedKeepsRunning:
        return "Varnello Bridge keeps running and serving iPads without this window. Start "
               "Varnello Bridge again to show it, or choose \u201cStop Varnello Bridge\u201d to "
               "end it.";
    case OperatorText::ledgerFull:
        return "Command ledger full: new commands are refused";
    case OperatorText::ledgerStatusPointer:
        return "To see the ledger\u2019s files and what can be done: varnello-bridge ledger status";
    case OperatorText::notRunning:
        return "Varnello Bridge is not running.";
    case OperatorText::sessionBusUnavailable:
        return "No session D-Bus: Varnello Bridge keeps serving, but a second start cannot reach "
               "it and \u2018varnello-bridge status\u2019 cannot see it.";
    case OperatorText::sessionBusNameTaken:
        return "Another Varnello Bridge holds this session\u2019s D-Bus name: "
               "\u2018varnello-bridge status\u2019 reports that one.";
    case OperatorText::shownRunningWindow:
        return "Varnello Bridge is already running: its window is shown.";
    case OperatorText::runningWithoutWindow:
        return "Varnello Bridge is already running, in the tray or as a service; "
               "\u2018varnello-bridge status\u2019 tells how it is doing.";
    case OperatorText::noAnswerFromRunningBridge:
        return "Varnello Bridge is running but did not answer over the session D-Bus.";
    case OperatorText::notificationServerUnavailable:
        return "No desktop notification server answered: notifications are not shown.";
    case OperatorText::startupFailedNotification:
        return "Varnello Bridge could not start";
    case OperatorText::listenerReadyAgainNotification:
        return "Varnello Bridge is reachable again";
    case OperatorText::listenerProblemNotification:
        return "iPads cannot reach Varnello Bridge";
    case OperatorText::ledgerFillNotification:
        return "Varnello Bridge command ledger";
    }
    return {};
}

std::string ledgerFillLine(int percent) {
    if (percent >= 100) {
        return std::string(operatorText(OperatorText::ledgerFull));
    }
    return "Command ledger " + std::to_string(percent) + "% full";
}

std::string ledgerThresholdMessage(int percent) {
    if (percent >= 100) {
        return std::string(CommandLedgerError::saturated().message());
    }
    return "The command ledger is " + std::to_string(percent) +
           "% full: at 100% every new command is refused.";
}

} // namespace varnello
