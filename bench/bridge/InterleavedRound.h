#pragma once

#include "BridgeIdle.h"
#include "LedgerFloor.h"
#include "LoadClient.h"
#include "app/BridgeProcess.h"
#include "app/ProcessMemory.h"
#include "protocol/TessaroBridgeCommand.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace varnello::bench {

struct RoundPlan {
    int iPads = 1;
    int slices = 1;
    int batchesPerSlice = 10;
    // 0 for a round without floor slices (the warm-up, the repeated commands).
    int floorSamplesPerSlice = 10;
    TessaroBridgeAckStatus expected = TessaroBridgeAckStatus::accepted;
};

// One command slice with the floor around it, medians in milliseconds. The floor is
// the mean of the medians of the floor slices just before and just after it.
struct SlicePair {
    double reservationFloor = 0;
    double acknowledgementFloor = 0;
    double cue = 0;
    double acknowledgement = 0;

    double cueRatio() const noexcept { return cue / reservationFloor; }
    double acknowledgementRatio() const noexcept { return acknowledgement / acknowledgementFloor; }
};

struct RoundFigures {
    RoundPlan plan;
    std::vector<TessaroBridgeCommand> commands;
    // Wall time of the command slices alone, in seconds.
    double commandSeconds = 0;
    // Every command's, in milliseconds.
    std::vector<double> cue;
    std::vector<double> acknowledgement;
    // Every batch's.
    std::vector<double> sendSpread;
    // Every floor sample's.
    std::vector<double> reservationFloor;
    std::vector<double> acknowledgementFloor;
    std::vector<double> acknowledgementFloorCpu;
    std::vector<SlicePair> pairs;
    // Over the command slices: the bridge's work (BridgeIdle::workNanoseconds), its
    // server queue thread's alone, and this process's thread.
    double bridgeNanoseconds = 0;
    double queueThreadNanoseconds = 0;
    double clientNanoseconds = 0;
    // With the round's iPads connected, after its last batch.
    testing::ProcessMemory memoryConnected;

    double acknowledgementsPerSecond() const noexcept {
        return static_cast<double>(commands.size()) / commandSeconds;
    }
};

// A round of the report: its iPads connect, then floor slices and command slices
// alternate, floor first and last, so that the bridge and its floor meet the disk in
// the same state. Called from the report's thread only.
class InterleavedRound {
public:
    // The next `count` commands to send.
    using CommandSource = std::function<std::vector<TessaroBridgeCommand>(std::size_t count)>;

    InterleavedRound(testing::BridgeProcess& bridge, std::uint16_t port, LoadClient& client,
                     LedgerFloor& floor, const BridgeIdle& idle);

    // Throws BridgeLoadError when the bridge misbehaves.
    RoundFigures run(const RoundPlan& plan, const CommandSource& next);

private:
    void awaitClients(int count, std::size_t from);
    std::pair<double, double> floorSlice(const RoundPlan& plan, RoundFigures& figures);
    std::pair<double, double> commandSlice(const RoundPlan& plan, const CommandSource& next,
                                           RoundFigures& figures);

    testing::BridgeProcess& bridge_;
    std::uint16_t port_;
    LoadClient& client_;
    LedgerFloor& floor_;
    const BridgeIdle& idle_;
};

} // namespace varnello::bench
