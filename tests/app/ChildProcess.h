#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace varnello::testing {

// A program started for a test, its standard output and error going to one
// file. Killed and reaped when the test is over, if it still runs.
class ChildProcess {
public:
    struct Environment {
        std::map<std::string, std::string> set;
        std::vector<std::string> unset;
    };

    // Throws std::system_error when the program cannot be started.
    ChildProcess(const std::vector<std::string>& command, const Environment& environment,
                 std::filesystem::path outputFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const noexcept { return pid_; }
    std::string output() const;

    // Waits until the output holds `text`; false when the time is up or the
    // program ended first.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds limit);
    // The exit status once the program ended within `limit`; -1 when a signal
    // ended it; nothing when it still runs.
    std::optional<int> waitForExit(std::chrono::milliseconds limit);
    void sendSignal(int number) const;
    bool running();

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::filesystem::path outputFile_;
};

// Runs a program to its end (at most `limit`) and returns its exit status, or
// nothing when it had to be killed.
std::optional<int> runToEnd(const std::vector<std::string>& command,
                            const ChildProcess::Environment& environment,
                            const std::filesystem::path& outputFile,
                            std::chrono::milliseconds limit);

} // namespace varnello::testing
