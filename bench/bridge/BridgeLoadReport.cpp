// Load and latency of the real varnello-bridge program, headless, on a fresh data
// and configuration folder under /tmp, with OSC forwarded to a UDP receiver here.
// After a warm-up, 1, then 8, then 32 iPads connect over TCP on 127.0.0.1. In each
// round, floor slices and command slices alternate, so that the bridge and the
// ledger's floor meet the disk in the same state; ratios are taken slice by slice.
// The 8-iPad round's last commands are then sent again and must all be answered
// `duplicate`, without a datagram: the bridge's CPU time on them, plus one OSC
// output's, is its own work per command. A short stint of hostile peers follows,
// for the memory figures; then start-up is timed on a full ledger.
//
// All iPads and the OSC receiver are driven from this one thread (LoadClient). The
// report stops at the first misbehaviour (missing, repeated or unexpected datagram,
// wrong answer) with a message and a nonzero status. Every read gives up after 10 s,
// the whole run after 10 minutes. It binds the Agent API port through the bridge, so
// no other bridge may run in the same network namespace.

#include "BridgeIdle.h"
#include "BridgeLaunch.h"
#include "BridgeLoadError.h"
#include "HostilePeers.h"
#include "InterleavedRound.h"
#include "LedgerFloor.h"
#include "LoadClient.h"
#include "OscOutputCost.h"
#include "ReportFigures.h"
#include "ReportOptions.h"
#include "ReportPrinter.h"
#include "RunLimit.h"
#include "StartUpTimer.h"
#include "app/OscAddressTally.h"
#include "ledger/CommandLedger.h"
#include "support/TemporaryFolder.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

namespace varnello::bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::array<int, 3> iPadCounts{1, 8, 32};
constexpr int batchesPerSlice = 10;
constexpr int floorSamplesPerSlice = 10;
constexpr int warmUpBatches = 20;
// Few enough to be in the ledger's entries still when they are sent again.
constexpr int repeatedSlicesAtMost = 5;
constexpr auto idleWindow = 2s;
constexpr auto runLimit = 10min;
constexpr int silentPeers = 200;
constexpr int stalledPeers = 50;
constexpr auto floodTime = 2s;
constexpr int oscOutputSamples = 400;
// More than the ledger keeps, so that the oldest go to the tombstone filter.
constexpr int startUpLedgerCommands = CommandLedger::standardMaximumEntries + 512;
constexpr int startUpFillBatch = 256;

// New OSC commands for /c/0, /c/1, ...
class NewCommands {
public:
    std::vector<TessaroBridgeCommand> operator()(std::size_t count) {
        std::vector<TessaroBridgeCommand> commands;
        for (std::size_t n = 0; n < count; ++n) {
            commands.push_back(TessaroBridgeCommand{
                Uuid::random(), TessaroBridgePayload::osc("/c/" + std::to_string(next_++))});
        }
        return commands;
    }

private:
    int next_ = 0;
};

int run(const ReportOptions& options) {
    const auto started = Clock::now();
    RunLimit limit(std::chrono::duration_cast<std::chrono::seconds>(runLimit));
    testing::TemporaryFolder folder;
    LoadClient client;
    const BridgeLaunch launch{options.bridge, folder.path() / "data", folder.path() / "config"};
    testing::writeOscForwardingPreferences(launch.configHome / "TessaroBridge" / "preferences.json",
                                           client.oscPort());

    ReportFigures figures;
    figures.machine = MachineDescription::of(folder.path());
    figures.bridge = options.bridge;
    figures.floorSamplesPerSlice = floorSamplesPerSlice;
    figures.batchesPerSlice = batchesPerSlice;

    auto bridge = launch.start();
    limit.watch(bridge->pid());
    const std::uint16_t port = awaitReady(*bridge);
    std::this_thread::sleep_for(500ms);
    figures.idleMemory = testing::processMemory(bridge->pid());

    LedgerFloor floor(launch.ledgerFile());
    NewCommands newCommands;
    const auto next = [&newCommands](std::size_t count) { return newCommands(count); };
    {
        // The first command creates the ledger's files; no floor before it.
        const BridgeIdle none;
        InterleavedRound(*bridge, port, client, floor, none)
            .run({1, 1, warmUpBatches, 0, TessaroBridgeAckStatus::accepted}, next);
    }
    figures.idle = BridgeIdle::measure(bridge->pid(), idleWindow);
    InterleavedRound round(*bridge, port, client, floor, figures.idle);
    for (const int iPads : iPadCounts) {
        figures.rounds.push_back(round.run({iPads, options.slices, batchesPerSlice,
                                            floorSamplesPerSlice, TessaroBridgeAckStatus::accepted},
                                           next));
        if (iPads != 8) {
            continue;
        }
        // The same commands again, before the next round pushes them out of the entries.
        const int slices = std::min(options.slices, repeatedSlicesAtMost);
        const auto& sent = figures.rounds.back().commands;
        std::size_t from = sent.size() - static_cast<std::size_t>(slices * batchesPerSlice * 8);
        figures.repeated =
            round.run({8, slices, batchesPerSlice, 0, TessaroBridgeAckStatus::duplicate},
                      [&sent, &from](std::size_t count) {
                          std::vector<TessaroBridgeCommand> batch(
                              sent.begin() + static_cast<std::ptrdiff_t>(from),
                              sent.begin() + static_cast<std::ptrdiff_t>(from + count));
                          from += count;
                          return batch;
                      });
    }

    floor.refresh();
    figures.ledgerEntries = floor.entries();
    figures.ledgerBytes = floor.ledgerBytes();
    figures.tombstoneBytes = floor.tombstoneBytes();
    figures.hostile = HostilePeers(port, bridge->pid()).run(silentPeers, stalledPeers, floodTime);
    figures.floodDatagrams = client.drainDatagrams(500ms, HostilePeers::floodAddress);
    stopBridge(*bridge);
    limit.watch(-1);
    bridge.reset();

    figures.oscOutputMicroseconds =
        oscOutputCpuMicroseconds(folder.path() / "output-probe", oscOutputSamples);
    StartUpTimer startUp({options.bridge, folder.path() / "full-ledger", launch.configHome}, limit);
    startUp.fillLedger(startUpLedgerCommands, startUpFillBatch);
    figures.startUp = startUp.measure(options.startUpSamples);

    figures.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    ReportPrinter(figures, stdout).print();
    return 0;
}

} // namespace
} // namespace varnello::bench

int main(int argc, char** argv) {
    const auto options = varnello::bench::ReportOptions::parse(argc, argv, VARNELLO_BRIDGE_BINARY);
    if (!options) {
        return 2;
    }
    try {
        return varnello::bench::run(*options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bridge_load_report: %s\n", error.what());
        return 1;
    }
}
