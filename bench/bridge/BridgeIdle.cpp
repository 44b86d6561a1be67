#include "BridgeIdle.h"

#include <thread>

namespace varnello::bench {

namespace {

constexpr double periodicThreshold = 1e6;
constexpr const char* queueThreadName = "TessaroBridge";

} // namespace

BridgeIdle BridgeIdle::measure(pid_t bridge, std::chrono::milliseconds window) {
    const ThreadCpuTimes before = threadCpuTimes(bridge);
    std::this_thread::sleep_for(window);
    const ThreadCpuTimes after = threadCpuTimes(bridge);
    const double seconds = std::chrono::duration<double>(window).count();
    BridgeIdle idle;
    for (const auto& [thread, cpu] : after) {
        if (threadName(bridge, thread) == queueThreadName) {
            idle.queueThread = thread;
        }
        const auto earlier = before.find(thread);
        const auto spent = static_cast<double>(
            cpu.runNanoseconds - (earlier == before.end() ? 0 : earlier->second.runNanoseconds));
        if (spent / seconds > periodicThreshold) {
            idle.periodicThreads.insert(thread);
            idle.periodicNanosecondsPerSecond += spent / seconds;
        } else {
            idle.otherNanosecondsPerSecond += spent / seconds;
        }
    }
    return idle;
}

double BridgeIdle::workNanoseconds(const ThreadCpuTimes& before, const ThreadCpuTimes& after,
                                   double seconds) const {
    return static_cast<double>(cpuNanosecondsBetween(before, after, periodicThreads)) -
           otherNanosecondsPerSecond * seconds;
}

} // namespace varnello::bench
