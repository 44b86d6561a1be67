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

namespace varnello::bench {

// The bridge program as a child process with its own environment entries; its
// standard error is collected so that log lines can be awaited, its standard
// output is discarded.
class BridgeChild {
public:
    // Throws BridgeLoadError(spawn).
    BridgeChild(const std::string& binary, const std::vector<std::string>& arguments,
                const std::map<std::string, std::string>& environment);
    // Kills the child, by its pid, when it still runs.
    ~BridgeChild();

    BridgeChild(const BridgeChild&) = delete;
    BridgeChild& operator=(const BridgeChild&) = delete;

    pid_t pid() const noexcept { return pid_; }

    // How much standard error has been collected so far.
    std::size_t outputSize();
    // The first line at or after `from` that contains `text`, waiting at most `wait`.
    std::optional<std::string> awaitLine(const std::string& text, std::chrono::milliseconds wait,
                                         std::size_t from = 0);
    std::string output();

    // SIGTERM, then its exit status; nothing when it has not exited within `wait`
    // (it is killed then).
    std::optional<int> stop(std::chrono::milliseconds wait);

private:
    void collect(int descriptor);

    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
};

} // namespace varnello::bench
