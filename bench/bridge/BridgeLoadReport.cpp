// Load and latency of the real varnello-bridge program, headless, on a fresh data
// and configuration folder under /tmp, with OSC forwarded to a UDP receiver here.
// After a warm-up, 1, then 8, then 32 iPads connect over TCP on 127.0.0.1 (each with
// the hello exchange) and send 400 OSC commands in all per round, each iPad sending
// its next command when the acknowledgement of its previous one arrives. Per round:
// acknowledgements per second and the median, 99th percentile and maximum time from
// sending a command to receiving its acknowledgement; every acknowledgement must be
// `accepted` and every OSC datagram must arrive exactly once.
//
// Beside it, once the bridge has stopped, in the same data folder: the ledger floor
// (the ledger's saves for one command, on copies of its files as the run left them)
// and a replay of the run's commands on the ledger library alone, whose CPU time per
// command is taken from the bridge's CPU time per command to leave the bridge's own
// work: decoding, dispatch, the OSC send and encoding.
//
// Run under scripts/with-test-services.sh (the bridge needs JACK when there is no
// ALSA sequencer). It binds the Agent API port, so no other bridge may run. Every
// read gives up after 10 s and the whole run after 5 minutes.

#include "BridgeChild.h"
#include "BridgeLoadError.h"
#include "LedgerFloor.h"
#include "LedgerReplay.h"
#include "LoadIPad.h"
#include "OscTally.h"
#include "ProcessCpuTime.h"

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
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace varnello::bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::array<int, 3> iPadCounts{1, 8, 32};
constexpr int commandsPerRound = 400;
constexpr int warmUpCommands = 20;
constexpr int floorSamples = 200;
constexpr auto idleWindow = 1s;
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

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = "/tmp/varnello-bridge-load-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw BridgeLoadError(BridgeLoadError::Code::temporaryFolder);
        }
        path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
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
    int accepted = 0;
    std::int64_t bridgeCpuNanoseconds = 0;
};

void awaitClients(BridgeChild& bridge, int count, std::size_t from) {
    if (!bridge.awaitLine("clients: " + std::to_string(count), 10s, from)) {
        throw BridgeLoadError(BridgeLoadError::Code::clientCount);
    }
}

// One round: `iPads` connections share `commands` commands whose OSC addresses are
// /c/<firstAddress>, /c/<firstAddress + 1>, ...
Round runRound(BridgeChild& bridge, std::uint16_t port, int iPads, int commands, int firstAddress) {
    const std::size_t connectMark = bridge.outputSize();
    std::vector<std::unique_ptr<LoadIPad>> connections;
    for (int i = 0; i < iPads; ++i) {
        connections.push_back(std::make_unique<LoadIPad>(port, "load-" + std::to_string(iPads) +
                                                                   "-" + std::to_string(i)));
    }
    awaitClients(bridge, iPads, connectMark);

    std::vector<std::vector<double>> milliseconds(static_cast<std::size_t>(iPads));
    std::vector<int> accepted(static_cast<std::size_t>(iPads), 0);
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(iPads));
    std::latch ready(iPads + 1);
    std::latch go(1);
    std::vector<std::thread> threads;
    int nextAddress = firstAddress;
    for (int i = 0; i < iPads; ++i) {
        const int share = commands / iPads + (i < commands % iPads ? 1 : 0);
        const auto index = static_cast<std::size_t>(i);
        threads.emplace_back([&, index, share, first = nextAddress] {
            try {
                std::vector<TessaroBridgeCommand> queue;
                for (int n = first; n < first + share; ++n) {
                    queue.push_back(TessaroBridgeCommand{
                        Uuid::random(), TessaroBridgePayload::osc("/c/" + std::to_string(n))});
                }
                ready.count_down();
                go.wait();
                for (const auto& command : queue) {
                    const auto sent = Clock::now();
                    connections[index]->send(command);
                    const auto answer = connections[index]->receiveAcknowledgement();
                    milliseconds[index].push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                    if (answer.commandID != command.id) {
                        throw BridgeLoadError(BridgeLoadError::Code::noAcknowledgement);
                    }
                    accepted[index] += answer.status == TessaroBridgeAckStatus::accepted;
                }
            } catch (...) {
                failures[index] = std::current_exception();
            }
        });
        nextAddress += share;
    }
    ready.arrive_and_wait();
    const std::int64_t cpuStart = processCpuNanoseconds(bridge.pid());
    const auto start = Clock::now();
    go.count_down();
    for (auto& thread : threads) {
        thread.join();
    }
    Round round;
    round.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    round.bridgeCpuNanoseconds = processCpuNanoseconds(bridge.pid()) - cpuStart;
    for (const auto& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
    round.iPads = iPads;
    round.commands = commands;
    for (int i = 0; i < iPads; ++i) {
        const auto& mine = milliseconds[static_cast<std::size_t>(i)];
        round.milliseconds.insert(round.milliseconds.end(), mine.begin(), mine.end());
        round.accepted += accepted[static_cast<std::size_t>(i)];
    }

    const std::size_t disconnectMark = bridge.outputSize();
    connections.clear();
    awaitClients(bridge, 0, disconnectMark);
    return round;
}

std::uint16_t awaitPort(BridgeChild& bridge) {
    static const std::regex ready(R"(Beschikbaar via wifi \(TCP (\d+)\))");
    const auto line = bridge.awaitLine("Beschikbaar via wifi", 15s);
    std::smatch match;
    if (!line || !std::regex_search(*line, match, ready)) {
        std::fputs(bridge.output().c_str(), stderr);
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

int run(const std::string& binary) {
    RunLimit limit(std::chrono::duration_cast<std::chrono::seconds>(runLimit));
    TemporaryFolder folder;
    OscTally osc;
    const auto dataHome = folder.path() / "data";
    const auto configHome = folder.path() / "config";
    std::filesystem::create_directories(configHome / "TessaroBridge");
    std::ofstream(configHome / "TessaroBridge" / "preferences.json")
        << R"({"oscForwardingEnabled": true, "oscForwardingHost": "127.0.0.1", )"
        << R"("oscForwardingPort": )" << osc.port() << "}";

    auto bridge = std::make_unique<BridgeChild>(
        binary, std::vector<std::string>{"--headless"},
        std::map<std::string, std::string>{{"XDG_DATA_HOME", dataHome.string()},
                                           {"XDG_CONFIG_HOME", configHome.string()}});
    limit.watch(bridge->pid());
    const std::uint16_t port = awaitPort(*bridge);

    // The first command creates the ledger's files; the rounds start after that.
    runRound(*bridge, port, 1, warmUpCommands, 0);
    const std::int64_t idleStart = processCpuNanoseconds(bridge->pid());
    std::this_thread::sleep_for(idleWindow);
    const double idleNanosecondsPerSecond =
        static_cast<double>(processCpuNanoseconds(bridge->pid()) - idleStart) /
        std::chrono::duration<double>(idleWindow).count();

    std::vector<Round> rounds;
    int sent = warmUpCommands;
    for (const int iPads : iPadCounts) {
        rounds.push_back(runRound(*bridge, port, iPads, commandsPerRound, sent));
        sent += commandsPerRound;
        osc.awaitTotal(static_cast<std::size_t>(sent), 5s);
    }
    const auto exitStatus = bridge->stop(10s);
    limit.watch(-1);
    if (!exitStatus) {
        throw BridgeLoadError(BridgeLoadError::Code::stop);
    }
    bridge.reset();

    const auto ledgerFile = dataHome / "TessaroBridge" / "command-ledger.json";
    const auto tombstoneFile = dataHome / "TessaroBridge" / "command-ledger.tombstones-v1.bin";
    std::error_code sizeError;
    const auto ledgerBytes = std::filesystem::file_size(ledgerFile, sizeError);
    const auto tombstoneBytes = std::filesystem::file_size(tombstoneFile, sizeError);
    const Summary floor = summarise(measureLedgerFloor(ledgerFile, tombstoneFile, floorSamples));
    std::vector<int> phases{warmUpCommands};
    phases.insert(phases.end(), rounds.size(), commandsPerRound);
    const auto replay = replayLedger(dataHome / "replay", phases);

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
    std::printf("bridge exit status: %d, idle CPU: %.1f us/s, ledger files after the run: "
                "%ju bytes (ledger), %ju bytes (tombstones)\n\n",
                *exitStatus, idleNanosecondsPerSecond / 1000.0, std::uintmax_t{ledgerBytes},
                std::uintmax_t{tombstoneBytes});
    std::printf("| iPads | commands | acks/s | median ms | p99 ms | max ms | accepted | "
                "bridge CPU us/cmd | ledger CPU us/cmd | own work us/cmd |\n");
    std::printf("| ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |\n");
    bool allAccepted = true;
    std::vector<double> ownWork;
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        const Round& round = rounds[i];
        const Summary latency = summarise(round.milliseconds);
        const double bridgeCpu = (static_cast<double>(round.bridgeCpuNanoseconds) -
                                  idleNanosecondsPerSecond * round.seconds) /
                                 1000.0 / round.commands;
        const double ledgerCpu = replay[i + 1].cpuMicrosecondsPerCommand;
        ownWork.push_back(bridgeCpu - ledgerCpu);
        allAccepted = allAccepted && round.accepted == round.commands;
        std::printf("| %d | %d | %.0f | %.2f | %.2f | %.2f | %d | %.0f | %.0f | %.0f |\n",
                    round.iPads, round.commands,
                    static_cast<double>(round.milliseconds.size()) / round.seconds, latency.median,
                    latency.p99, latency.maximum, round.accepted, bridgeCpu, ledgerCpu,
                    ownWork.back());
    }
    std::printf("\nledger floor (tombstone save + 2 ledger saves, %d samples): median %.2f ms, "
                "p99 %.2f ms\n",
                floorSamples, floor.median, floor.p99);
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        const Summary library = summarise(replay[i + 1].milliseconds);
        std::printf("ledger library alone (reserve + record), as in the %d-iPad round: median "
                    "%.2f ms, p99 %.2f ms\n",
                    rounds[i].iPads, library.median, library.p99);
    }
    std::printf("OSC datagrams: %zu received for %d commands, %d missing or repeated, %zu "
                "unexpected\n",
                osc.total(), sent, missingOrRepeated, unexpected);

    const auto eight = std::find_if(rounds.begin(), rounds.end(),
                                    [](const Round& round) { return round.iPads == 8; });
    const double eightMedian = summarise(eight->milliseconds).median;
    const double eightOwnWork = ownWork[static_cast<std::size_t>(eight - rounds.begin())];
    const bool latencyMet = eightMedian <= floorFactorGoal * floor.median;
    const bool workMet = eightOwnWork < ownWorkGoalMicroseconds;
    std::printf("\ngoal, 8 iPads: median %.2f ms = %.2f x the floor (goal <= %.1f): %s; own "
                "work %.0f us/cmd (goal < %.0f): %s\n",
                eightMedian, eightMedian / floor.median, floorFactorGoal,
                latencyMet ? "met" : "NOT met", eightOwnWork, ownWorkGoalMicroseconds,
                workMet ? "met" : "NOT met");

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
