#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace varnello::testing {

struct CommandResult {
    // The exit status; nothing when the program ran out of time (it was then
    // killed), was ended by a signal, or could not be started.
    std::optional<int> status;
    // Its standard output, as far as it came.
    std::string output;
};

// Runs an external program (looked up in PATH) for at most `limit`, with its
// standard input and error on /dev/null, collecting its standard output. One
// still running at the limit is killed by its pid and reaped. Output of a
// daemon that the program left behind is not waited for.
CommandResult runBounded(const std::vector<std::string>& command, std::chrono::milliseconds limit);

// Stops a program that the test started: SIGTERM, then SIGKILL when it still
// runs after `grace`; reaps it either way. For a child of this process only.
void stopChild(pid_t pid, std::chrono::milliseconds grace);

} // namespace varnello::testing
