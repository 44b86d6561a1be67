// Load and latency of the real varnello-bridge program, headless, on a fresh data
// and configuration folder under /tmp, with OSC forwarded to a UDP receiver here.
// After a warm-up, 1, then 8, then 32 iPads connect over TCP on 127.0.0.1 (each with
// the hello exchange) and send 400 OSC commands in all per round, each iPad sending
// its next command when the acknowledgement of its previous one arrives. Per round:
// acknowledgements per second and the median, 99th percentile and maximum time from
// sending a command to receiving its acknowledgement; every acknowledgement must be
// `accepted` and every OSC datagram must arrive exactly once. A last round resends
// the 8-iPad round's commands, which must all be answered `duplicate`, unsent.
//
// Just before each round, in the same data folder: the ledger floor, the ledger's
// saves for one command on copies of its files as they are then, and a replay of
// the round's commands on the ledger library alone, in batches of as many commands
// as the round has iPads (the bridge saves the commands of iPads that wait together
// once per batch).
//
// The bridge's own work per command (decoding, dispatch, output, encoding) is its
// CPU time per repeated command, which takes the whole path but the ledger's saves
// and the output, plus the CPU time of one OSC output measured here with the
// bridge's OSCForwarder. As a cross-check, the bridge's CPU time per new command
// less the replay's CPU time per command. Bridge CPU time is the scheduler's run
// time of its threads, without the one that is busy when idle (the JACK client's
// process thread, woken every period; OSC commands never reach it).
//
// Run under scripts/with-test-services.sh (the bridge needs JACK when there is no
// ALSA sequencer). It binds the Agent API port, so no other bridge may run. Every
// read gives up after 10 s and the whole run after 5 minutes.

#include "BridgeLoadError.h"
#include "LedgerFloor.h"
#include "LedgerReplay.h"
#include "LoadIPad.h"
#include "OscOutputCost.h"
#include "ProcessCpuTime.h"
#include "app/BridgeProcess.h"
#include "app/OscAddressTally.h"
#include "support/TemporaryFolder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <latch>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace varnello::bench {
namespace {

using testing::BridgeProcess;
using testing::OscAddressTally;
using testing::TemporaryFolder;

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::array<int, 3> iPadCounts{1, 8, 32};
constexpr int commandsPerRound = 400;
constexpr int warmUpCommands = 20;
// Taken just before each round, as the disk is shared and its speed drifts.
constexpr int floorSamplesPerRound = 70;
constexpr auto idleWindow = 2s;
// A thread busier than this while no iPad is connected runs on a clock of its own
// (the JACK client's process thread, once per period) and is left out of the
// per-command figures.
constexpr double periodicNanosecondsPerSecond = 1e6;
constexpr const char* queueThreadName = "TessaroBridge";
constexpr auto runLimit = 5min;
// With 8 iPads: the median within this many ledger floors, and the bridge's own
// work per command below this.
constexpr double floorFactorGoal = 1.5;
constexpr double ownWorkGoalMicroseconds = 100;

// Ends the whole run, the bridge first (by its pid), when it outlasts its limit.
class RunLimit {
public:
    explicit RunLimit(std::chrono::seconds limit)
        : watcher_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!changed_.wait_for(lock, limit, [this] { return done_; })) {
                  if (const pid_t pid = child_.load(); pid > 0) {
                      ::kill(pid, SIGKILL);
                  }
                  std::fputs("The run outlasted its limit of 5 minutes; stopped.\n", stderr);
                  std::_Exit(3);
              }
          }) {}
    ~RunLimit() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        watcher_.join();
    }
    void watch(pid_t child) { child_ = child; }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::atomic<pid_t> child_{-1};
    std::thread watcher_;
};

struct Summary {
    double median = 0;
    double p99 = 0;
    double maximum = 0;
};

Summary summarise(std::vector<double> values) {
    if (values.empty()) {
        return {};
    }
    std::sort(values.begin(), values.end());
    const auto at = [&](double fraction) {
        return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
    };
    return {at(0.5), at(0.99), values.back()};
}

struct Round {
    int iPads = 0;
    int commands = 0;
    double seconds = 0;
    std::vector<double> milliseconds;
    // Acknowledgements with the status the round expects.
    int expectedStatus = 0;
    ThreadCpuTimes cpuBefore;
    ThreadCpuTimes cpuAfter;
    // Taken just before the round: the floor's samples and the ledger replay of its
    // commands (rounds of new commands only).
    std::vector<LedgerFloorSample> floorSamples;
    LedgerReplayPhase replay;
};

std::vector<double> floorTotals(const Round& round) {
    std::vector<double> totals;
    for (const auto& sample : round.floorSamples) {
        totals.push_back(sample.total());
    }
    return totals;
}

void awaitClients(BridgeProcess& bridge, int count, std::size_t from) {
    if (!bridge.awaitLine("clients: " + std::to_string(count), 10s, from)) {
        throw BridgeLoadError(BridgeLoadError::Code::clientCount);
    }
}

// `count` new commands for OSC addresses /c/<first>, /c/<first + 1>, ...
std::vector<TessaroBridgeCommand> oscCommands(int first, int count) {
    std::vector<TessaroBridgeCommand> commands;
    for (int n = first; n < first + count; ++n) {
        commands.push_back(TessaroBridgeCommand{
            Uuid::random(), TessaroBridgePayload::osc("/c/" + std::to_string(n))});
    }
    return commands;
}

// One round: `iPads` connections share the commands, each in its own slice, in order.
Round runRound(BridgeProcess& bridge, std::uint16_t port, int iPads,
               const std::vector<TessaroBridgeCommand>& commands, TessaroBridgeAckStatus expected) {
    const std::size_t connectMark = bridge.errorOutputSize();
    std::vector<std::unique_ptr<LoadIPad>> connections;
    for (int i = 0; i < iPads; ++i) {
        connections.push_back(std::make_unique<LoadIPad>(port, "load-" + std::to_string(iPads) +
                                                                   "-" + std::to_string(i)));
    }
    awaitClients(bridge, iPads, connectMark);

    const auto count = static_cast<std::size_t>(iPads);
    std::vector<std::vector<double>> milliseconds(count);
    std::vector<int> matching(count, 0);
    std::vector<std::exception_ptr> failures(count);
    std::latch go(1);
    std::vector<std::thread> threads;
    std::size_t sliceStart = 0;
    for (std::size_t index = 0; index < count; ++index) {
        const std::size_t share = commands.size() / count + (index < commands.size() % count);
        threads.emplace_back([&, index, first = sliceStart, share] {
            try {
                go.wait();
                for (std::size_t n = first; n < first + share; ++n) {
                    const auto& command = commands[n];
                    const auto sent = Clock::now();
                    connections[index]->send(command);
                    const auto answer = connections[index]->receiveAcknowledgement();
                    milliseconds[index].push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                    if (answer.commandID != command.id) {
                        throw BridgeLoadError(BridgeLoadError::Code::noAcknowledgement);
                    }
                    matching[index] += answer.status == expected;
                }
            } catch (...) {
                failures[index] = std::current_exception();
            }
        });
        sliceStart += share;
    }
    const ThreadCpuTimes cpuBefore = threadCpuTimes(bridge.pid());
    const auto start = Clock::now();
    go.count_down();
    for (auto& thread : threads) {
        thread.join();
    }
    Round round;
    round.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    round.cpuAfter = threadCpuTimes(bridge.pid());
    round.cpuBefore = cpuBefore;
    for (const auto& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
    round.iPads = iPads;
    round.commands = static_cast<int>(commands.size());
    for (std::size_t index = 0; index < count; ++index) {
        round.milliseconds.insert(round.milliseconds.end(), milliseconds[index].begin(),
                                  milliseconds[index].end());
        round.expectedStatus += matching[index];
    }

    const std::size_t disconnectMark = bridge.errorOutputSize();
    connections.clear();
    awaitClients(bridge, 0, disconnectMark);
    return round;
}

// What the bridge does when no iPad is connected.
struct Idle {
    std::set<pid_t> periodicThreads;
    // The server queue's thread, which decodes, runs and answers every command.
    pid_t queueThread = -1;
    double periodicNanosecondsPerSecond = 0;
    // The other threads together.
    double nanosecondsPerSecond = 0;
};

Idle measureIdle(pid_t bridge) {
    const ThreadCpuTimes before = threadCpuTimes(bridge);
    std::this_thread::sleep_for(idleWindow);
    const ThreadCpuTimes after = threadCpuTimes(bridge);
    const double seconds = std::chrono::duration<double>(idleWindow).count();
    Idle idle;
    for (const auto& [thread, cpu] : after) {
        if (threadName(bridge, thread) == queueThreadName) {
            idle.queueThread = thread;
        }
        const auto earlier = before.find(thread);
        const auto spent = static_cast<double>(
            cpu.runNanoseconds - (earlier == before.end() ? 0 : earlier->second.runNanoseconds));
        if (spent / seconds > periodicNanosecondsPerSecond) {
            idle.periodicThreads.insert(thread);
            idle.periodicNanosecondsPerSecond += spent / seconds;
        } else {
            idle.nanosecondsPerSecond += spent / seconds;
        }
    }
    return idle;
}

// The bridge's CPU time per command in microseconds: its threads but the periodic
// ones, less what they spend when idle.
double bridgeCpuPerCommand(const Round& round, const Idle& idle) {
    return (static_cast<double>(
                cpuNanosecondsBetween(round.cpuBefore, round.cpuAfter, idle.periodicThreads)) -
            idle.nanosecondsPerSecond * round.seconds) /
           1000.0 / round.commands;
}

std::uint16_t awaitPort(BridgeProcess& bridge) {
    static const std::regex ready(R"(Beschikbaar via wifi \(TCP (\d+)\))");
    const auto line = bridge.awaitLine("Beschikbaar via wifi", 15s);
    std::smatch match;
    if (!line || !std::regex_search(*line, match, ready)) {
        std::fputs(bridge.errorOutput().c_str(), stderr);
        throw BridgeLoadError(BridgeLoadError::Code::notReady);
    }
    return static_cast<std::uint16_t>(std::stoi(match[1]));
}

std::string machineLine() {
    std::ifstream release("/proc/sys/kernel/osrelease");
    std::string kernel;
    std::getline(release, kernel);
    return std::to_string(std::thread::hardware_concurrency()) + " CPUs, Linux " + kernel +
           ", data folder under /tmp";
}

double medianOf(const std::vector<LedgerFloorSample>& samples, double LedgerFloorSample::*save) {
    std::vector<double> values;
    for (const auto& sample : samples) {
        values.push_back(sample.*save);
    }
    return summarise(std::move(values)).median;
}

// Where the time of a round's median command goes: the saves (the floor, each save
// on its own), what the ledger library adds to them (the replay's reserveAll and
// recordAll less the saves), and what remains outside the ledger (reading the
// commands, running them, the answers, the clients' own threads). The floor and
// the replay are taken just before the round, so the split is as good as the disk
// is steady over those seconds.
void printBatchTimes(const std::vector<Round>& rounds) {
    std::printf("\nwhere a batch's time goes, medians in ms:\n\n| iPads | command to "
                "acknowledgement | tombstone save | ledger save, reserve | ledger save, record | "
                "reserveAll | recordAll | ledger's own work | outside the ledger |\n");
    std::printf("| ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |\n");
    for (const Round& round : rounds) {
        const double tombstone = medianOf(round.floorSamples, &LedgerFloorSample::tombstoneSave);
        const double reserveSave =
            medianOf(round.floorSamples, &LedgerFloorSample::reserveLedgerSave);
        const double recordSave =
            medianOf(round.floorSamples, &LedgerFloorSample::recordLedgerSave);
        const double reserveAll = summarise(round.replay.reserveMilliseconds).median;
        const double recordAll = summarise(round.replay.recordMilliseconds).median;
        const double acknowledgement = summarise(round.milliseconds).median;
        std::printf("| %d | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n", round.iPads,
                    acknowledgement, tombstone, reserveSave, recordSave, reserveAll, recordAll,
                    reserveAll + recordAll - tombstone - reserveSave - recordSave,
                    acknowledgement - reserveAll - recordAll);
    }
    std::printf("\n");
}

int run(const std::string& binary) {
    RunLimit limit(std::chrono::duration_cast<std::chrono::seconds>(runLimit));
    TemporaryFolder folder;
    OscAddressTally osc;
    const auto dataHome = folder.path() / "data";
    const auto configHome = folder.path() / "config";
    testing::writeOscForwardingPreferences(configHome / "TessaroBridge" / "preferences.json",
                                           osc.port());

    std::unique_ptr<BridgeProcess> bridge;
    try {
        bridge = std::make_unique<BridgeProcess>(
            binary, std::vector<std::string>{"--headless"},
            std::map<std::string, std::string>{{"XDG_DATA_HOME", dataHome.string()},
                                               {"XDG_CONFIG_HOME", configHome.string()}});
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "%s\n", error.what());
        throw BridgeLoadError(BridgeLoadError::Code::spawn);
    }
    limit.watch(bridge->pid());
    const std::uint16_t port = awaitPort(*bridge);

    // The first command creates the ledger's files; the rounds start after that.
    runRound(*bridge, port, 1, oscCommands(0, warmUpCommands), TessaroBridgeAckStatus::accepted);
    const Idle idle = measureIdle(bridge->pid());
    // The replay's ledger takes the warm-up's commands too, so that its files keep
    // the sizes of the bridge's.
    LedgerReplay ledgerReplay(dataHome / "replay");
    ledgerReplay.run({warmUpCommands, 1});

    const auto ledgerFile = dataHome / "TessaroBridge" / "command-ledger.json";
    const auto tombstoneFile = dataHome / "TessaroBridge" / "command-ledger.tombstones-v1.bin";
    std::vector<Round> rounds;
    std::vector<TessaroBridgeCommand> eightIPadCommands;
    int sent = warmUpCommands;
    for (const int iPads : iPadCounts) {
        auto commands = oscCommands(sent, commandsPerRound);
        auto floorSamples = measureLedgerFloor(ledgerFile, tombstoneFile, floorSamplesPerRound);
        auto replay = ledgerReplay.run({commandsPerRound, iPads});
        rounds.push_back(
            runRound(*bridge, port, iPads, commands, TessaroBridgeAckStatus::accepted));
        rounds.back().floorSamples = std::move(floorSamples);
        rounds.back().replay = std::move(replay);
        sent += commandsPerRound;
        osc.awaitTotal(static_cast<std::size_t>(sent), 5s);
        if (iPads == 8) {
            eightIPadCommands = std::move(commands);
        }
    }
    // The same commands again: answered from the ledger's memory, nothing written or
    // sent, so the bridge's CPU time here is its own work without the ledger's saves.
    const Round repeated =
        runRound(*bridge, port, 8, eightIPadCommands, TessaroBridgeAckStatus::duplicate);
    const auto exitStatus = bridge->terminate(10s);
    limit.watch(-1);
    if (!exitStatus) {
        throw BridgeLoadError(BridgeLoadError::Code::stop);
    }
    bridge.reset();

    std::error_code sizeError;
    const auto ledgerBytes = std::filesystem::file_size(ledgerFile, sizeError);
    const auto tombstoneBytes = std::filesystem::file_size(tombstoneFile, sizeError);
    std::vector<double> allFloorSamples;
    for (const Round& round : rounds) {
        const auto totals = floorTotals(round);
        allFloorSamples.insert(allFloorSamples.end(), totals.begin(), totals.end());
    }
    const Summary floor = summarise(allFloorSamples);

    const auto counts = osc.counts();
    int missingOrRepeated = 0;
    std::size_t expectedFound = 0;
    for (int n = 0; n < sent; ++n) {
        const auto found = counts.find("/c/" + std::to_string(n));
        expectedFound += found != counts.end();
        missingOrRepeated += found == counts.end() || found->second != 1;
    }
    const std::size_t unexpected = counts.size() - expectedFound;

    std::printf("Varnello Bridge load report: %s\n", machineLine().c_str());
    std::printf("bridge exit status: %d; idle: %zu periodic thread(s) at %.0f us/s, left "
                "out; the other threads at %.0f us/s, subtracted; ledger files after the run: "
                "%ju bytes (ledger), %ju bytes (tombstones)\n\n",
                *exitStatus, idle.periodicThreads.size(),
                idle.periodicNanosecondsPerSecond / 1000.0, idle.nanosecondsPerSecond / 1000.0,
                std::uintmax_t{ledgerBytes}, std::uintmax_t{tombstoneBytes});
    std::printf("| iPads | commands | acks/s | median ms | p99 ms | max ms | as expected | floor "
                "median ms | floor p99 ms | median / floor | bridge CPU us/cmd | ledger CPU "
                "us/cmd |\n");
    std::printf("| ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | "
                "---: |\n");
    bool allAccepted = true;
    for (const Round& round : rounds) {
        const Summary latency = summarise(round.milliseconds);
        const Summary roundFloor = summarise(floorTotals(round));
        const double bridgeCpu = bridgeCpuPerCommand(round, idle);
        const double ledgerCpu = round.replay.cpuMicrosecondsPerCommand;
        allAccepted = allAccepted && round.expectedStatus == round.commands;
        std::printf("| %d | %d | %.0f | %.2f | %.2f | %.2f | %d | %.2f | %.2f | %.2f | %.0f | %.0f "
                    "|\n",
                    round.iPads, round.commands,
                    static_cast<double>(round.milliseconds.size()) / round.seconds, latency.median,
                    latency.p99, latency.maximum, round.expectedStatus, roundFloor.median,
                    roundFloor.p99, latency.median / roundFloor.median, bridgeCpu, ledgerCpu);
    }
    const Summary repeatedLatency = summarise(repeated.milliseconds);
    const double repeatedCpu = bridgeCpuPerCommand(repeated, idle);
    allAccepted = allAccepted && repeated.expectedStatus == repeated.commands;
    std::printf("| %d, repeated | %d | %.0f | %.2f | %.2f | %.2f | %d duplicate | - | - | - | %.0f "
                "| 0 |\n",
                repeated.iPads, repeated.commands,
                static_cast<double>(repeated.milliseconds.size()) / repeated.seconds,
                repeatedLatency.median, repeatedLatency.p99, repeatedLatency.maximum,
                repeated.expectedStatus, repeatedCpu);
    std::printf("\nCPU per command, server queue thread / other threads but the periodic one:");
    for (const Round* round :
         std::array<const Round*, 4>{&rounds[0], &rounds[1], &rounds[2], &repeated}) {
        const std::set<pid_t> queueOnly{idle.queueThread};
        std::set<pid_t> notQueue = idle.periodicThreads;
        notQueue.insert(idle.queueThread);
        const auto perCommand = [&](std::int64_t nanoseconds) {
            return static_cast<double>(nanoseconds) / 1000.0 / round->commands;
        };
        std::printf(" %d iPads%s %.0f / %.0f us;", round->iPads,
                    round == &repeated ? " repeated" : "",
                    perCommand(cpuNanosecondsBetween(round->cpuBefore, round->cpuAfter, {}) -
                               cpuNanosecondsBetween(round->cpuBefore, round->cpuAfter, queueOnly)),
                    perCommand(cpuNanosecondsBetween(round->cpuBefore, round->cpuAfter, notQueue)));
    }
    std::printf("\nledger floor (tombstone save + 2 ledger saves; %d samples before each round, "
                "%zu in all): median %.2f ms, p99 %.2f ms\n",
                floorSamplesPerRound, allFloorSamples.size(), floor.median, floor.p99);
    for (const Round& round : rounds) {
        const Summary library = summarise(round.replay.batchMilliseconds());
        std::printf("ledger library alone, batches of %d (reserveAll + recordAll), as in the "
                    "%d-iPad round: median %.2f ms, p99 %.2f ms per batch = %.2f x the floor\n",
                    round.iPads, round.iPads, library.median, library.p99,
                    library.median / summarise(floorTotals(round)).median);
    }
    printBatchTimes(rounds);
    std::printf("OSC datagrams: %zu received for %d commands, %d missing or repeated, %zu "
                "unexpected\n",
                osc.total(), sent, missingOrRepeated, unexpected);

    const auto eight = std::find_if(rounds.begin(), rounds.end(),
                                    [](const Round& round) { return round.iPads == 8; });
    const double eightMedian = summarise(eight->milliseconds).median;
    const double eightSubtracted =
        bridgeCpuPerCommand(*eight, idle) - eight->replay.cpuMicrosecondsPerCommand;
    const auto [leastLedger, mostLedger] =
        std::minmax_element(rounds.begin(), rounds.end(), [](const Round& a, const Round& b) {
            return a.replay.cpuMicrosecondsPerCommand < b.replay.cpuMicrosecondsPerCommand;
        });
    // The repeated commands took the whole path but the ledger's saves and the output;
    // the output is added from its own measurement.
    const double oscOutput =
        oscOutputCpuMicroseconds(folder.path() / "output-probe", commandsPerRound);
    const double ownWorkBuiltUp = repeatedCpu + oscOutput;
    std::printf("\nbridge's own work per command: %.0f us on a repeated command (receive, decode, "
                "dispatch, ledger lookup, encode, send) + %.0f us OSC output (preferences read and "
                "OSCForwarder, in this process) = %.0f us; by subtraction in the 8-iPad round %.0f "
                "us, where the "
                "ledger's own CPU per command ranged %.0f to %.0f us between replay phases\n",
                repeatedCpu, oscOutput, ownWorkBuiltUp, eightSubtracted,
                leastLedger->replay.cpuMicrosecondsPerCommand,
                mostLedger->replay.cpuMicrosecondsPerCommand);

    const double eightFloor = summarise(floorTotals(*eight)).median;
    const auto queueBefore = eight->cpuBefore.find(idle.queueThread);
    const auto queueAfter = eight->cpuAfter.find(idle.queueThread);
    if (queueBefore != eight->cpuBefore.end() && queueAfter != eight->cpuAfter.end()) {
        const auto& library = eight->replay;
        std::printf("user / kernel CPU per new command, 8-iPad round: server queue thread %.0f / "
                    "%.0f us; ledger replay %.0f / %.0f us\n",
                    static_cast<double>(queueAfter->second.userNanoseconds -
                                        queueBefore->second.userNanoseconds) /
                        1000.0 / eight->commands,
                    static_cast<double>(queueAfter->second.kernelNanoseconds -
                                        queueBefore->second.kernelNanoseconds) /
                        1000.0 / eight->commands,
                    library.userMicrosecondsPerCommand, library.kernelMicrosecondsPerCommand);
    }

    const bool latencyMet = eightMedian <= floorFactorGoal * eightFloor;
    const bool workMet = ownWorkBuiltUp < ownWorkGoalMicroseconds;
    std::printf(
        "\ngoal, 8 iPads: median %.2f ms = %.2f x its round's floor (goal <= %.1f): %s; own "
        "work %.0f us/cmd (goal < %.0f): %s\n",
        eightMedian, eightMedian / eightFloor, floorFactorGoal, latencyMet ? "met" : "NOT met",
        ownWorkBuiltUp, ownWorkGoalMicroseconds, workMet ? "met" : "NOT met");

    const bool complete =
        allAccepted && missingOrRepeated == 0 && unexpected == 0 && *exitStatus == 0;
    if (!complete) {
        std::puts("checks FAILED: see accepted, OSC datagrams and exit status above");
    }
    return complete ? 0 : 1;
}

} // namespace
} // namespace varnello::bench

int main(int argc, char** argv) {
    try {
        return varnello::bench::run(argc > 1 ? argv[1] : VARNELLO_BRIDGE_BINARY);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bridge_load_report: %s\n", error.what());
        return 1;
    }
}
