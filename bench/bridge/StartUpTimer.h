#pragma once

#include "BridgeLaunch.h"
#include "RunLimit.h"

#include <cstddef>
#include <vector>

namespace varnello::bench {

struct StartUpFigures {
    std::size_t entries = 0;
    std::size_t ledgerBytes = 0;
    std::size_t tombstoneBytes = 0;
    // From spawning the program to its ready line, per sample.
    std::vector<double> milliseconds;
};

// Start-up to ready on a full ledger: the ledger library, in this process, fills a
// standard ledger in the launch's data folder (more commands than it keeps, so that
// the oldest pass to the tombstone filter); then the real program starts on it,
// sample after sample, each stopped by SIGTERM. Called from the report's thread only.
class StartUpTimer {
public:
    StartUpTimer(BridgeLaunch launch, RunLimit& limit);

    // Throws BridgeLoadError(ledgerFill).
    void fillLedger(int commands, int batchSize);
    // Throws BridgeLoadError(spawn, notReady, stop, exitStatus, ledgerFiles).
    StartUpFigures measure(int samples);

private:
    BridgeLaunch launch_;
    RunLimit& limit_;
};

} // namespace varnello::bench
