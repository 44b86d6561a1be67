#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace varnello::testing {

// The bridge program as a child process, for the tests and the load report: this
// process's environment with the given entries replaced or added (and without the
// journal, so that the log comes to standard error). Its standard error is collected
// so that log lines can be awaited; its standard output is discarded.
class BridgeProcess {
public:
    // Throws std::system_error when the program cannot be started.
    BridgeProcess(const std::string& binary, const std::vector<std::string>& arguments,
                  const std::map<std::string, std::string>& environment);
    // Kills the child, by its pid, when it still runs.
    ~BridgeProcess();

    BridgeProcess(const BridgeProcess&) = delete;
    BridgeProcess& operator=(const BridgeProcess&) = delete;

    pid_t pid() const noexcept { return pid_; }

    // How much standard error has been collected so far.
    std::size_t errorOutputSize();
    // The first line at or after `from` that contains `text`, waiting at most `wait`.
    std::optional<std::string> awaitLine(const std::string& text, std::chrono::milliseconds wait,
                                         std::size_t from = 0);
    std::string errorOutput();

    // SIGTERM, then its exit status (128 + the signal when a signal ended it);
    // nothing when it has not exited within `wait` (it is killed later, on
    // destruction).
    std::optional<int> terminate(std::chrono::milliseconds wait);

private:
    void collect(int descriptor);

    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
};

} // namespace varnello::testing
