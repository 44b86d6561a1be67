#pragma once

#include <cstdint>
#include <sys/types.h>

namespace varnello::bench {

// CPU time another process has run, user and kernel, in nanoseconds: the sum of
// the scheduler's run time of each of its live threads (/proc/<pid>/task/*/schedstat).
// Exact to the nanosecond, unlike the clock ticks of /proc/<pid>/stat; threads that
// have already exited are not counted, which suits a process whose threads live as
// long as it does. -1 when the process is gone.
std::int64_t processCpuNanoseconds(pid_t pid);

// CPU time of the calling thread, user and kernel, in nanoseconds.
std::int64_t threadCpuNanoseconds();

} // namespace varnello::bench
