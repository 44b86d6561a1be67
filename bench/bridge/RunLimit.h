#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/types.h>
#include <thread>

namespace varnello::bench {

// Ends the whole run, the watched bridge first (by its pid, SIGKILL), when it
// outlasts its limit; exits with status 3. Thread-safe.
class RunLimit {
public:
    explicit RunLimit(std::chrono::seconds limit);
    ~RunLimit();

    RunLimit(const RunLimit&) = delete;
    RunLimit& operator=(const RunLimit&) = delete;

    // The process to stop with the run; -1 for none.
    void watch(pid_t child) { child_ = child; }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::atomic<pid_t> child_{-1};
    std::thread watcher_;
};

} // namespace varnello::bench
