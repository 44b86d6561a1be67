#include "BridgeProcess.h"

#include "ProcessEnvironment.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace varnello::testing {

BridgeProcess::BridgeProcess(const std::string& binary, const std::vector<std::string>& arguments,
                             const std::map<std::string, std::string>& environment) {
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    std::vector<std::string> argumentTexts{binary};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    auto argv = spawnPointers(argumentTexts);
    // The journal is kept out so that the log comes to standard error.
    std::vector<std::string> environmentTexts = environmentWith(environment, {"JOURNAL_STREAM"});
    auto envp = spawnPointers(environmentTexts);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);
    const int status =
        ::posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(errorPipe[1]);
    if (status != 0) {
        ::close(errorPipe[0]);
        pid_ = -1;
        throw std::system_error(status, std::generic_category(), "posix_spawn");
    }
    reader_ = std::thread([this, descriptor = errorPipe[0]] { collect(descriptor); });
}

BridgeProcess::~BridgeProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

void BridgeProcess::collect(int descriptor) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        {
            std::lock_guard lock(mutex_);
            output_.append(buffer, static_cast<std::size_t>(got));
        }
        changed_.notify_all();
    }
    ::close(descriptor);
}

std::size_t BridgeProcess::errorOutputSize() {
    std::lock_guard lock(mutex_);
    return output_.size();
}

std::optional<std::string> BridgeProcess::awaitLine(const std::string& text,
                                                    std::chrono::milliseconds wait,
                                                    std::size_t from) {
    std::unique_lock lock(mutex_);
    std::optional<std::string> found;
    changed_.wait_for(lock, wait, [&] {
        // Only whole lines: a line still being written could match a prefix.
        for (std::size_t start = from; start < output_.size();) {
            const auto end = output_.find('\n', start);
            if (end == std::string::npos) {
                break;
            }
            const std::string_view line(output_.data() + start, end - start);
            if (line.find(text) != std::string_view::npos) {
                found = std::string(line);
                return true;
            }
            start = end + 1;
        }
        return false;
    });
    return found;
}

std::string BridgeProcess::errorOutput() {
    std::lock_guard lock(mutex_);
    return output_;
}

std::optional<int> BridgeProcess::terminate(std::chrono::milliseconds wait) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            if (reader_.joinable()) {
                reader_.join();
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

} // namespace varnello::testing
