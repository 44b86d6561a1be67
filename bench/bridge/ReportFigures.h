#pragma once

#include "BridgeIdle.h"
#include "HostilePeers.h"
#include "InterleavedRound.h"
#include "MachineDescription.h"
#include "StartUpTimer.h"
#include "app/ProcessMemory.h"

#include <cstddef>
#include <string>
#include <vector>

namespace varnello::bench {

// Everything one run of the load report measured, for ReportPrinter.
struct ReportFigures {
    MachineDescription machine;
    std::string bridge;
    int floorSamplesPerSlice = 0;
    int batchesPerSlice = 0;
    BridgeIdle idle;
    testing::ProcessMemory idleMemory;
    // 1, 8 and 32 iPads, then the 8-iPad round's last commands again.
    std::vector<RoundFigures> rounds;
    RoundFigures repeated;
    double oscOutputMicroseconds = 0;
    HostileFigures hostile;
    std::size_t floodDatagrams = 0;
    std::size_t ledgerEntries = 0;
    std::size_t ledgerBytes = 0;
    std::size_t tombstoneBytes = 0;
    StartUpFigures startUp;
    double seconds = 0;
};

} // namespace varnello::bench
