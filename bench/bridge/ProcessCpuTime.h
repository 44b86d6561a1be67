#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>

namespace varnello::bench {

// CPU time, user and kernel together, in nanoseconds, of each live thread of a
// process, by thread id: the scheduler's run time (/proc/<pid>/task/<tid>/schedstat),
// exact to the nanosecond, unlike the clock ticks of /proc/<pid>/stat. Empty when
// the process is gone.
struct ThreadCpu {
    std::int64_t runNanoseconds = 0;
};
using ThreadCpuTimes = std::map<pid_t, ThreadCpu>;
ThreadCpuTimes threadCpuTimes(pid_t pid);

// The CPU time the threads spent between two readings, but for `excluded`; a thread
// that started in between counts from zero.
std::int64_t cpuNanosecondsBetween(const ThreadCpuTimes& before, const ThreadCpuTimes& after,
                                   const std::set<pid_t>& excluded = {});

// The name a thread of `pid` gave itself (/proc/<pid>/task/<tid>/comm); empty when
// it is gone.
std::string threadName(pid_t pid, pid_t thread);

// CPU time of the calling thread, user and kernel, in nanoseconds.
std::int64_t callingThreadCpuNanoseconds();

} // namespace varnello::bench
