#include "ChildProcess.h"

#include "ProcessEnvironment.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace varnello::testing {

namespace {

constexpr std::chrono::milliseconds pollInterval{20};

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& command, const Environment& environment,
                           std::filesystem::path outputFile)
    : outputFile_(std::move(outputFile)) {
    std::vector<std::string> arguments = command;
    std::vector<std::string> entries = environmentWith(environment.set, environment.unset);
    auto argv = spawnPointers(arguments);
    auto envp = spawnPointers(entries);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int result = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        throw std::system_error(result, std::generic_category(), "posix_spawn " + command[0]);
    }
}

ChildProcess::~ChildProcess() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        waitForExit(std::chrono::seconds(5));
    }
}

std::string ChildProcess::output() const {
    std::ifstream stream(outputFile_, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

bool ChildProcess::running() {
    if (status_) {
        return false;
    }
    int status = 0;
    const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
    if (ended == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return ended == 0;
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (output().find(text) != std::string::npos) {
            return true;
        }
        if (!running() || std::chrono::steady_clock::now() >= deadline) {
            return output().find(text) != std::string::npos;
        }
        std::this_thread::sleep_for(pollInterval);
    }
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(pollInterval);
    }
    return status_;
}

void ChildProcess::sendSignal(int number) const {
    ::kill(pid_, number);
}

std::optional<int> runToEnd(const std::vector<std::string>& command,
                            const ChildProcess::Environment& environment,
                            const std::filesystem::path& outputFile,
                            std::chrono::milliseconds limit) {
    ChildProcess process(command, environment, outputFile);
    return process.waitForExit(limit);
}

} // namespace varnello::testing
