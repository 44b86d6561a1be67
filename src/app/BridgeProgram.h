#pragma once

#include "app/ProgramOptions.h"
#include "support/LogSink.h"

#include <memory>

namespace varnello {

// Runs the bridge until it is asked to quit (the menu's quit item, SIGINT or
// SIGTERM) and returns the exit status: 0 after a normal stop, 1 when the
// headless service could not start. The tray application stays alive after a
// failed start-up, to show why. Main thread, once; TerminationSignals::block must
// have run before any thread was started.
int runBridgeProgram(int& argc, char** argv, const ProgramOptions& options, FrontEnd frontEnd,
                     std::shared_ptr<LogSink> logSink);

} // namespace varnello
