#include "support/BoundedCommand.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace varnello::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds pollInterval{20};
constexpr std::size_t outputLimit = 16 * 1024 * 1024;

// True once the child has ended, with its exit status when it exited.
bool reaped(pid_t pid, std::optional<int>& exitStatus) {
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == 0) {
        return false;
    }
    if (ended == pid && WIFEXITED(status)) {
        exitStatus = WEXITSTATUS(status);
    }
    return true;
}

} // namespace

CommandResult runBounded(const std::vector<std::string>& command, std::chrono::milliseconds limit) {
    CommandResult result;
    int pipeEnds[2];
    if (command.empty() || ::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return result;
    }
    std::vector<std::string> texts = command;
    std::vector<char*> arguments;
    for (auto& text : texts) {
        arguments.push_back(text.data());
    }
    arguments.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawnp(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    const int output = pipeEnds[0];
    if (spawned != 0) {
        ::close(output);
        return result;
    }

    const auto deadline = Clock::now() + limit;
    bool outputOpen = true;
    bool ended = false;
    const auto readAvailable = [&] {
        char chunk[4096];
        // A program that floods its output is cut off; the ones run here print little.
        while (outputOpen && result.output.size() < outputLimit) {
            pollfd descriptor{output, POLLIN, 0};
            if (::poll(&descriptor, 1, 0) != 1) {
                return;
            }
            const ssize_t got = ::read(output, chunk, sizeof chunk);
            if (got <= 0) {
                outputOpen = false;
                return;
            }
            result.output.append(chunk, static_cast<std::size_t>(got));
        }
    };
    while (!ended && Clock::now() < deadline) {
        if (outputOpen) {
            pollfd descriptor{output, POLLIN, 0};
            ::poll(&descriptor, 1, static_cast<int>(pollInterval.count()));
            readAvailable();
        } else {
            std::this_thread::sleep_for(pollInterval);
        }
        ended = reaped(pid, result.status);
    }
    if (ended) {
        readAvailable();
    } else {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        readAvailable();
    }
    ::close(output);
    return result;
}

void stopChild(pid_t pid, std::chrono::milliseconds grace) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    const auto deadline = Clock::now() + grace;
    std::optional<int> status;
    while (!reaped(pid, status)) {
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(pollInterval);
    }
}

} // namespace varnello::testing
