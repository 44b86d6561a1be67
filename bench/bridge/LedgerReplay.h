#pragma once

#include <filesystem>
#include <vector>

namespace varnello::bench {

// What the ledger library alone costs per command in one phase of a replay.
struct LedgerReplayPhase {
    // CPU time of this thread, user and kernel, per reserve plus record.
    double cpuMicrosecondsPerCommand = 0;
    // The same split into user and kernel time.
    double userMicrosecondsPerCommand = 0;
    double kernelMicrosecondsPerCommand = 0;
    // Wall time of each reserve plus record.
    std::vector<double> milliseconds;
};

// A fresh standard ledger in `folder` takes, phase after phase, as many new
// commands (reserve, then record as executed) as the bridge took in the matching
// phase of the run, so that its files have the same sizes at every point.
std::vector<LedgerReplayPhase> replayLedger(const std::filesystem::path& folder,
                                            const std::vector<int>& commandsPerPhase);

} // namespace varnello::bench
