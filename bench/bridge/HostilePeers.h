#pragma once

#include "app/ProcessMemory.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace varnello::bench {

struct HostileFigures {
    int silentConnections = 0;
    int stalledConnections = 0;
    std::size_t floodedCommands = 0;
    // The bridge's memory with all of them open at the flood's end, and a second
    // after they all closed.
    testing::ProcessMemory withPeers;
    testing::ProcessMemory afterClose;
};

// A short, bounded stint of hostile peers against the bridge at `port`: connections
// that take the hello and never answer, connections stalled one byte short of a
// maximal frame, and one iPad that floods commands for `floodAddress` without ever
// reading. Called from the report's thread only; every connect, read and write gives
// up after 10 seconds.
class HostilePeers {
public:
    static constexpr const char* floodAddress = "/flood";

    HostilePeers(std::uint16_t port, pid_t bridge);

    // Throws BridgeLoadError(connect, noHello, send).
    HostileFigures run(int silent, int stalled, std::chrono::milliseconds flood);

private:
    std::uint16_t port_;
    pid_t bridge_;
};

} // namespace varnello::bench
