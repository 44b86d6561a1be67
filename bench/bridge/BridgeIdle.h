#pragma once

#include "ProcessCpuTime.h"

#include <chrono>
#include <set>
#include <sys/types.h>

namespace varnello::bench {

// What the bridge's threads do while no iPad is connected, measured over a window.
// A thread busier than 1 ms/s then runs on a clock of its own (the JACK client's
// process thread, woken every period; OSC commands never reach it) and is left out
// of the per-command figures; the others' idle rate is subtracted from them.
struct BridgeIdle {
    std::set<pid_t> periodicThreads;
    // The server queue's thread, which decodes, runs and answers every command.
    pid_t queueThread = -1;
    double periodicNanosecondsPerSecond = 0;
    double otherNanosecondsPerSecond = 0;

    static BridgeIdle measure(pid_t bridge, std::chrono::milliseconds window);

    // The bridge's CPU time between two readings taken `seconds` apart, but for the
    // periodic threads and less the others' idle rate.
    double workNanoseconds(const ThreadCpuTimes& before, const ThreadCpuTimes& after,
                           double seconds) const;
};

} // namespace varnello::bench
