#include "app/BridgeProgram.h"

#include "app/AppDelegate.h"
#include "app/BridgeStatusReport.h"
#include "app/ConnectedIPadsQuery.h"
#include "app/DBusDesktopNotifier.h"
#include "app/HeadlessFrontEnd.h"
#include "app/OperatorText.h"
#include "app/QtMainExecutor.h"
#include "app/QtTrayFrontEnd.h"
#include "app/SessionBusService.h"
#include "app/TerminationSignals.h"
#include "core/BridgeCoordinatorEnvironment.h"
#include "core/JsonFilePreferenceStore.h"
#include "support/SystemdServiceNotifier.h"

#include <QApplication>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

namespace varnello {

namespace {

AppDelegate::PreferencesFactory preferencesFactory(const Logger& logger) {
    return [logger] {
        auto store = std::make_unique<JsonFilePreferenceStore>(
            JsonFilePreferenceStore::defaultFile(),
            [logger](const std::string& message) { logger.error(message); });
        return std::make_shared<BridgePreferences>(std::move(store));
    };
}

AppDelegate::CoordinatorFactory coordinatorFactory(Executor& mainExecutor,
                                                   std::shared_ptr<LogSink> logSink,
                                                   const ProgramOptions& options) {
    return [&mainExecutor, logSink = std::move(logSink), midi = options.midi,
            port = options.port](std::shared_ptr<BridgePreferences> preferences) {
        auto environment = standardBridgeCoordinatorEnvironment(
            mainExecutor, logSink, midi, std::make_shared<SystemdServiceNotifier>());
        environment.iPadPort = port;
        return BridgeCoordinator::create(std::move(preferences), mainExecutor,
                                         std::move(environment));
    };
}

// The status report of the bridge as the delegate knows it now.
std::function<std::string()> statusOf(const std::shared_ptr<AppDelegate>& delegate,
                                      MIDIBackendChoice midi) {
    return [weak = std::weak_ptr(delegate), midi] {
        const auto self = weak.lock();
        std::optional<BridgeRuntimeSnapshot> snapshot;
        MIDIBackendChoice serving = midi;
        if (self && self->coordinator()) {
            snapshot = self->coordinator()->snapshot();
            // What --midi=auto settled on, rather than the choice itself.
            serving = parseMIDIBackendChoice(self->coordinator()->midiSystemName()).value_or(midi);
        }
        return bridgeStatusReport(snapshot, self ? self->launchError() : std::nullopt, serving)
            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    };
}

// Tells the log what the session bus gave; a bridge without it keeps serving.
void logRegistration(const Logger& logger, SessionBusService::Registration registration) {
    switch (registration) {
    case SessionBusService::Registration::registered:
        return;
    case SessionBusService::Registration::nameTaken:
        logger.notice(operatorText(OperatorText::sessionBusNameTaken));
        return;
    case SessionBusService::Registration::noBus:
        logger.notice(operatorText(OperatorText::sessionBusUnavailable));
        return;
    }
}

// A second tray start: the running bridge shows its window, and this one ends with
// status 0. When the name's holder does not answer, this one starts all the same (the
// ledger's lock refuses it if a bridge really runs); then nothing.
std::optional<int> showRunningBridge(const Logger& logger) {
    const RunningBridgeAnswer answer =
        callRunningBridge("ShowWindow", DBusDesktopNotifier::answerLimit);
    if (answer.outcome == RunningBridgeAnswer::Outcome::answered) {
        logger.notice(operatorText(answer.shown ? OperatorText::shownRunningWindow
                                                : OperatorText::runningWithoutWindow));
        return 0;
    }
    logger.error(std::string(operatorText(OperatorText::noAnswerFromRunningBridge)) + " (" +
                 answer.text + ")");
    return std::nullopt;
}

// Launches the delegate, serves until asked to quit, then stops the server.
int serve(QCoreApplication& application, const std::shared_ptr<AppDelegate>& delegate,
          const Logger& logger, bool exitOnLaunchError, DBusDesktopNotifier& notifier) {
    TerminationSignals terminationSignals([&logger, weak = std::weak_ptr(delegate)](int number) {
        logger.notice(std::string("Stopping on SIG") + sigabbrev_np(number) + ".");
        if (auto self = weak.lock()) {
            self->quitApplication();
        }
    });
    delegate->applicationDidFinishLaunching();
    if (exitOnLaunchError && delegate->launchError()) {
        // The notification that it could not start goes out before it ends.
        notifier.finishPending(DBusDesktopNotifier::answerLimit);
        return 1;
    }
    const int status = application.exec();
    if (!delegate->applicationWillTerminate()) {
        // Destroying the bridge now could pull its parts from under the handler
        // that is still running; the ledger on disk is safe as after a crash.
        logger.error("The server did not finish within the stop grace (a name lookup may hang); "
                     "Varnello Bridge exits without waiting for it.");
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

} // namespace

int runBridgeProgram(int& argc, char** argv, const ProgramOptions& options, FrontEnd frontEnd,
                     std::shared_ptr<LogSink> logSink) {
    const Logger logger(logSink, "lifecycle");
    if (frontEnd == FrontEnd::headlessWithoutDisplay) {
        logger.notice("No graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set): running "
                      "headless.");
    }
    if (frontEnd == FrontEnd::tray) {
        QApplication application(argc, argv);
        QtMainExecutor mainExecutor(application);
        const char* printMenus = std::getenv("VARNELLO_PRINT_MENU");
        QtTrayFrontEnd tray(logger, printMenus != nullptr && *printMenus != '\0');
        DBusDesktopNotifier notifier(logger);
        auto delegate = std::make_shared<AppDelegate>(
            logger, tray, preferencesFactory(logger),
            coordinatorFactory(mainExecutor, logSink, options), &notifier);
        tray.setActionHandler([weak = std::weak_ptr(delegate)](MenuAction action) {
            if (auto self = weak.lock()) {
                self->perform(action);
            }
        });
        SessionBusService service([&tray] { return tray.showWindow(); },
                                  statusOf(delegate, options.midi));
        const auto registration = service.registerOn(QDBusConnection::sessionBus());
        if (registration == SessionBusService::Registration::nameTaken) {
            if (const auto shown = showRunningBridge(logger)) {
                return *shown;
            }
        }
        logRegistration(logger, registration);
        return serve(application, delegate, logger, false, notifier);
    }
    QCoreApplication application(argc, argv);
    QtMainExecutor mainExecutor(application);
    HeadlessFrontEnd headless;
    DBusDesktopNotifier notifier(logger);
    auto delegate = std::make_shared<AppDelegate>(
        logger, headless, preferencesFactory(logger),
        coordinatorFactory(mainExecutor, logSink, options), &notifier);
    // A service has no window to show; a second one is refused by the ledger's lock.
    SessionBusService service([] { return false; }, statusOf(delegate, options.midi));
    logRegistration(logger, service.registerOn(QDBusConnection::sessionBus()));
    return serve(application, delegate, logger, true, notifier);
}

int runStatusCommand(int& argc, char** argv, bool json) {
    QCoreApplication application(argc, argv);
    const RunningBridgeAnswer answer =
        callRunningBridge("Status", DBusDesktopNotifier::answerLimit);
    switch (answer.outcome) {
    case RunningBridgeAnswer::Outcome::notRunning:
        std::fprintf(stderr, "%s\n", operatorText(OperatorText::notRunning).data());
        return 3;
    case RunningBridgeAnswer::Outcome::noAnswer:
        std::fprintf(stderr, "%s (%s)\n",
                     operatorText(OperatorText::noAnswerFromRunningBridge).data(),
                     answer.text.c_str());
        return 1;
    case RunningBridgeAnswer::Outcome::answered:
        break;
    }
    try {
        nlohmann::json report = nlohmann::json::parse(answer.text);
        if (report.contains("iPadsConnected")) {
            // The names come from the bridge's own device list on the Agent API.
            if (const auto iPads = queryConnectedIPads(DBusDesktopNotifier::answerLimit)) {
                report["iPads"] = nlohmann::json::array();
                for (const TessaroBridgeAgentDevice& iPad : *iPads) {
                    report["iPads"].push_back(iPad.displayName);
                }
            }
        }
        const std::string shown = json ? report.dump() + "\n" : bridgeStatusLines(report);
        std::fputs(shown.c_str(), stdout);
        return 0;
    } catch (const nlohmann::json::exception& error) {
        std::fprintf(stderr, "%s (%s)\n",
                     operatorText(OperatorText::noAnswerFromRunningBridge).data(), error.what());
        return 1;
    }
}

} // namespace varnello
