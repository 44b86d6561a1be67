#pragma once

#include "ledger/CommandLedger.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace varnello::bench {

// One phase of a replay: its number of new commands, taken in batches of this size.
struct LedgerReplayLoad {
    int commands = 0;
    int batchSize = 1;
};

// What the ledger library alone costs per command in one phase of a replay.
struct LedgerReplayPhase {
    // CPU time of this thread, user and kernel, per command of reserveAll plus recordAll.
    double cpuMicrosecondsPerCommand = 0;
    // The same split into user and kernel time.
    double userMicrosecondsPerCommand = 0;
    double kernelMicrosecondsPerCommand = 0;
    // Wall time of each batch's reserveAll and recordAll.
    std::vector<double> reserveMilliseconds;
    std::vector<double> recordMilliseconds;

    // Each batch's reserveAll plus recordAll.
    std::vector<double> batchMilliseconds() const;
};

// A fresh standard ledger in `folder` that takes, phase after phase, as many new
// commands (reserveAll, then recordAll as executed, a batch at a time) as the
// bridge takes in the matching phase of the run, so that its files have the same
// sizes at every point. Phases run beside the bridge's rounds, each just before its
// round, so that both meet the disk in the same state.
class LedgerReplay {
public:
    explicit LedgerReplay(const std::filesystem::path& folder);

    LedgerReplayPhase run(LedgerReplayLoad load);

private:
    std::unique_ptr<CommandLedger> ledger_;
};

} // namespace varnello::bench
