#include "ProcessCpuTime.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace varnello::bench {

namespace {

const std::int64_t nanosecondsPerTick = 1'000'000'000 / ::sysconf(_SC_CLK_TCK);

std::int64_t nanoseconds(const timeval& time) {
    return std::int64_t{time.tv_sec} * 1'000'000'000 + std::int64_t{time.tv_usec} * 1000;
}

} // namespace

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
        std::ifstream statFile(task.path() / "stat");
        std::string stat;
        std::getline(statFile, stat);
        // The name in parentheses may hold spaces; utime and stime are the 12th and 13th
        // fields after it.
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        std::string skipped;
        for (int i = 0; i < 11; ++i) {
            fields >> skipped;
        }
        std::int64_t userTicks = 0;
        std::int64_t kernelTicks = 0;
        fields >> userTicks >> kernelTicks;
        cpu.userNanoseconds = userTicks * nanosecondsPerTick;
        cpu.kernelNanoseconds = kernelTicks * nanosecondsPerTick;
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

ThreadCpu callingThreadUserAndKernel() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return {0, nanoseconds(usage.ru_utime), nanoseconds(usage.ru_stime)};
}

} // namespace varnello::bench
