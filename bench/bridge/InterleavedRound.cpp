#include "InterleavedRound.h"

#include "BridgeLoadError.h"
#include "ProcessCpuTime.h"
#include "Summary.h"

#include <chrono>
#include <string>

namespace varnello::bench {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Datagrams that are not to come would have come by then.
constexpr auto strayDatagramWait = 200ms;

} // namespace

InterleavedRound::InterleavedRound(testing::BridgeProcess& bridge, std::uint16_t port,
                                   LoadClient& client, LedgerFloor& floor, const BridgeIdle& idle)
    : bridge_(bridge), port_(port), client_(client), floor_(floor), idle_(idle) {}

void InterleavedRound::awaitClients(int count, std::size_t from) {
    if (!bridge_.awaitLine("clients: " + std::to_string(count), 10s, from)) {
        throw BridgeLoadError(BridgeLoadError::Code::clientCount);
    }
}

RoundFigures InterleavedRound::run(const RoundPlan& plan, const CommandSource& next) {
    RoundFigures figures;
    figures.plan = plan;
    const std::size_t connectMark = bridge_.errorOutputSize();
    client_.connect(
        port_, plan.iPads,
        "load-" + std::to_string(plan.iPads) + "-" +
            std::string(plan.expected == TessaroBridgeAckStatus::duplicate ? "repeated" : "new"));
    awaitClients(plan.iPads, connectMark);

    const bool withFloor = plan.floorSamplesPerSlice > 0;
    std::pair<double, double> floorBefore{0, 0};
    if (withFloor) {
        floorBefore = floorSlice(plan, figures);
    }
    for (int slice = 0; slice < plan.slices; ++slice) {
        const auto [cue, acknowledgement] = commandSlice(plan, next, figures);
        if (!withFloor) {
            continue;
        }
        const auto floorAfter = floorSlice(plan, figures);
        figures.pairs.push_back({(floorBefore.first + floorAfter.first) / 2,
                                 (floorBefore.second + floorAfter.second) / 2, cue,
                                 acknowledgement});
        floorBefore = floorAfter;
    }
    figures.memoryConnected = testing::processMemory(bridge_.pid());
    if (!withFloor) {
        client_.drainDatagrams(strayDatagramWait);
    }
    const std::size_t disconnectMark = bridge_.errorOutputSize();
    client_.disconnect();
    awaitClients(0, disconnectMark);
    return figures;
}

std::pair<double, double> InterleavedRound::floorSlice(const RoundPlan& plan,
                                                       RoundFigures& figures) {
    floor_.refresh();
    std::vector<double> reservation;
    std::vector<double> acknowledgement;
    for (int n = 0; n < plan.floorSamplesPerSlice; ++n) {
        const auto sample = floor_.sample();
        reservation.push_back(sample.reservation);
        acknowledgement.push_back(sample.acknowledgement);
        figures.acknowledgementFloorCpu.push_back(sample.acknowledgementCpu);
    }
    figures.reservationFloor.insert(figures.reservationFloor.end(), reservation.begin(),
                                    reservation.end());
    figures.acknowledgementFloor.insert(figures.acknowledgementFloor.end(), acknowledgement.begin(),
                                        acknowledgement.end());
    return {medianOf(std::move(reservation)), medianOf(std::move(acknowledgement))};
}

std::pair<double, double> InterleavedRound::commandSlice(const RoundPlan& plan,
                                                         const CommandSource& next,
                                                         RoundFigures& figures) {
    const bool datagrams = plan.expected == TessaroBridgeAckStatus::accepted;
    std::vector<std::vector<TessaroBridgeCommand>> batches;
    for (int n = 0; n < plan.batchesPerSlice; ++n) {
        batches.push_back(next(static_cast<std::size_t>(plan.iPads)));
    }
    std::vector<double> cue;
    std::vector<double> acknowledgement;
    const ThreadCpuTimes bridgeBefore = threadCpuTimes(bridge_.pid());
    const std::int64_t clientBefore = callingThreadCpuNanoseconds();
    const auto start = Clock::now();
    for (const auto& batch : batches) {
        const auto timing = client_.runBatch(batch, plan.expected, datagrams);
        figures.sendSpread.push_back(timing.sendSpread);
        for (const auto& command : timing.commands) {
            acknowledgement.push_back(command.acknowledgement);
            if (datagrams) {
                cue.push_back(command.cue);
            }
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::int64_t clientAfter = callingThreadCpuNanoseconds();
    const ThreadCpuTimes bridgeAfter = threadCpuTimes(bridge_.pid());
    figures.commandSeconds += seconds;
    figures.clientNanoseconds += static_cast<double>(clientAfter - clientBefore);
    figures.bridgeNanoseconds += idle_.workNanoseconds(bridgeBefore, bridgeAfter, seconds);
    std::set<pid_t> notQueue;
    for (const auto& [thread, cpu] : bridgeAfter) {
        if (thread != idle_.queueThread) {
            notQueue.insert(thread);
        }
    }
    figures.queueThreadNanoseconds +=
        static_cast<double>(cpuNanosecondsBetween(bridgeBefore, bridgeAfter, notQueue));
    for (auto& batch : batches) {
        figures.commands.insert(figures.commands.end(), std::make_move_iterator(batch.begin()),
                                std::make_move_iterator(batch.end()));
    }
    figures.cue.insert(figures.cue.end(), cue.begin(), cue.end());
    figures.acknowledgement.insert(figures.acknowledgement.end(), acknowledgement.begin(),
                                   acknowledgement.end());
    return {medianOf(std::move(cue)), medianOf(std::move(acknowledgement))};
}

} // namespace varnello::bench
