#include "ProcessCpuTime.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

namespace varnello::bench {

std::int64_t processCpuNanoseconds(pid_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task", error);
    if (error) {
        return -1;
    }
    std::int64_t total = 0;
    for (const auto& task : tasks) {
        std::ifstream schedstat(task.path() / "schedstat");
        std::int64_t runNanoseconds = 0;
        // A thread that exits between the listing and the read is simply not counted.
        if (schedstat >> runNanoseconds) {
            total += runNanoseconds;
        }
    }
    return total;
}

std::int64_t threadCpuNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

} // namespace varnello::bench
