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

// `varnello-bridge status [--json]`: asks the bridge running for this user over the
// session bus and prints its report on standard output. 0 when it answered, 3 when no
// bridge runs (or there is no session bus), 1 when it did not answer. Main thread,
// once.
int runStatusCommand(int& argc, char** argv, bool json);

} // namespace varnello
