#include "ProcessCpuTime.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

namespace varnello::bench {

ThreadCpuTimes threadCpuTimes(pid_t pid) {
    ThreadCpuTimes times;
    std::error_code error;
    std::filesystem::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task", error);
    if (error) {
        return times;
    }
    for (const auto& task : tasks) {
        std::ifstream schedstat(task.path() / "schedstat");
        ThreadCpu cpu;
        // A thread that exits between the listing and the read is simply not counted.
        if (!(schedstat >> cpu.runNanoseconds)) {
            continue;
        }
        times[static_cast<pid_t>(std::stol(task.path().filename().string()))] = cpu;
    }
    return times;
}

std::int64_t cpuNanosecondsBetween(const ThreadCpuTimes& before, const ThreadCpuTimes& after,
                                   const std::set<pid_t>& excluded) {
    std::int64_t total = 0;
    for (const auto& [thread, cpu] : after) {
        if (excluded.contains(thread)) {
            continue;
        }
        const auto earlier = before.find(thread);
        total +=
            cpu.runNanoseconds - (earlier == before.end() ? 0 : earlier->second.runNanoseconds);
    }
    return total;
}

std::string threadName(pid_t pid, pid_t thread) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/task/" + std::to_string(thread) +
                       "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::int64_t callingThreadCpuNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

} // namespace varnello::bench
