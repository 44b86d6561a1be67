#pragma once

#include <cstddef>
#include <sys/types.h>

namespace varnello::testing {

// A process's resident memory in bytes, now (VmRSS) and at its peak so far (VmHWM),
// from /proc/<pid>/status; 0 when the process is gone.
struct ProcessMemory {
    std::size_t resident = 0;
    std::size_t peak = 0;
};

ProcessMemory processMemory(pid_t pid);

} // namespace varnello::testing
