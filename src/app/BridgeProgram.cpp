#include "app/BridgeProgram.h"

#include "app/AppDelegate.h"
#include "app/HeadlessFrontEnd.h"
#include "app/QtMainExecutor.h"
#include "app/QtTrayFrontEnd.h"
#include "app/TerminationSignals.h"
#include "core/BridgeCoordinatorEnvironment.h"
#include "core/JsonFilePreferenceStore.h"

#include <QApplication>
#include <QCoreApplication>
#include <csignal>
#include <cstdlib>
#include <cstring>
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
        auto environment = standardBridgeCoordinatorEnvironment(mainExecutor, logSink, midi);
        environment.iPadPort = port;
        return BridgeCoordinator::create(std::move(preferences), mainExecutor,
                                         std::move(environment));
    };
}

// Launches the delegate, serves until asked to quit, then stops the server.
int serve(QCoreApplication& application, const std::shared_ptr<AppDelegate>& delegate,
          const Logger& logger, bool exitOnLaunchError) {
    TerminationSignals terminationSignals([&logger, weak = std::weak_ptr(delegate)](int number) {
        logger.notice(std::string("Stopping on SIG") + sigabbrev_np(number) + ".");
        if (auto self = weak.lock()) {
            self->quitApplication();
        }
    });
    delegate->applicationDidFinishLaunching();
    if (exitOnLaunchError && delegate->launchError()) {
        return 1;
    }
    const int status = application.exec();
    delegate->applicationWillTerminate();
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
        auto delegate =
            std::make_shared<AppDelegate>(logger, tray, preferencesFactory(logger),
                                          coordinatorFactory(mainExecutor, logSink, options));
        tray.setActionHandler([weak = std::weak_ptr(delegate)](MenuAction action) {
            if (auto self = weak.lock()) {
                self->perform(action);
            }
        });
        return serve(application, delegate, logger, false);
    }
    QCoreApplication application(argc, argv);
    QtMainExecutor mainExecutor(application);
    HeadlessFrontEnd headless;
    auto delegate =
        std::make_shared<AppDelegate>(logger, headless, preferencesFactory(logger),
                                      coordinatorFactory(mainExecutor, logSink, options));
    return serve(application, delegate, logger, true);
}

} // namespace varnello
