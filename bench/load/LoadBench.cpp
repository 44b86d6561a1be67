// Load on the real bridge server in this process: 8 iPad connections over TCP
// on 127.0.0.1 send 2000 commands in all, each waiting for the acknowledgement
// of its previous one, to a coordinator with a real ledger (standard
// parameters) in a temporary folder and a MIDI system that only counts.
// Prints acknowledgements per second and the median and 99th percentile of
// the time from sending a command to receiving its acknowledgement. Then one
// connection alone sends 200 more, to show the cost of one command without
// others queued before it, and, beside both, the ledger floor: reserve plus
// record alone, on the same files once the bridge has let go of them.
// Bounded: every read gives up after 10 s and the whole run after 120 s.

#include "core/AsioBridgeServerHost.h"
#include "core/BridgeCoordinator.h"
#include "core/JsonFilePreferenceStore.h"
#include "ledger/CommandLedger.h"
#include "ledger/PosixLedgerFileSystem.h"
#include "protocol/TessaroBridgeFrameCodec.h"
#include "protocol/TessaroBridgeMessage.h"
#include "support/ManualExecutor.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace varnello {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int connectionCount = 8;
constexpr int commandCount = 2000;
constexpr int floorSamples = 200;
constexpr std::size_t soloCommands = 200;
constexpr auto runLimit = 120s;

class CountingMIDISystem final : public MIDISystem {
public:
    explicit CountingMIDISystem(std::atomic<int>& emitted) : emitted_(emitted) {}
    MIDIStatus createClient(std::string_view, MIDIClientRef& client) override {
        client = 1;
        return 0;
    }
    MIDIStatus createSource(MIDIClientRef, std::string_view, MIDIEndpointRef& endpoint) override {
        endpoint = 2;
        return 0;
    }
    MIDIStatus setStringProperty(MIDIEndpointRef, MIDIStringProperty, std::string_view) override {
        return 0;
    }
    MIDIStatus setIntegerProperty(MIDIEndpointRef, MIDIIntegerProperty, std::int32_t) override {
        return 0;
    }
    MIDIStatus emit(MIDIEndpointRef, MIDITimeStamp, std::span<const std::uint8_t>) override {
        ++emitted_;
        return 0;
    }
    void disposeEndpoint(MIDIEndpointRef) noexcept override {}
    void disposeClient(MIDIClientRef) noexcept override {}
    MIDITimeStamp currentHostTime() const noexcept override { return 0; }

private:
    std::atomic<int>& emitted_;
};

// A fresh folder under /tmp, removed afterwards.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = "/tmp/varnello-load-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
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

std::unique_ptr<CommandLedger> standardLedgerAt(const std::filesystem::path& folder) {
    return std::make_unique<CommandLedger>(
        folder / "TessaroBridge" / "command-ledger.json", std::make_shared<PosixLedgerFileSystem>(),
        CommandLedger::standardMaximumEntries, CommandLedger::standardTombstoneBitCount,
        CommandLedger::standardTombstoneHashCount,
        CommandLedger::standardTombstoneMaximumInsertions);
}

double millisecondsBetween(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

// One iPad: its hello, then commands one after the other.
class IPad {
public:
    explicit IPad(std::uint16_t port) {
        socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval timeout{10, 0};
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const int one = 1;
        ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~IPad() { ::close(socket_); }

    bool connected() const { return connected_; }

    bool send(const TessaroBridgeMessage& message) {
        const auto bytes = encodeFrame(message);
        return ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    std::optional<TessaroBridgeMessage> receive() {
        std::vector<std::uint8_t> prefix(4);
        if (!readExactly(prefix)) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> payload((std::size_t{prefix[0]} << 24) |
                                          (std::size_t{prefix[1]} << 16) |
                                          (std::size_t{prefix[2]} << 8) | prefix[3]);
        if (!readExactly(payload)) {
            return std::nullopt;
        }
        return decodeMessage(payload);
    }

private:
    bool readExactly(std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::recv(socket_, bytes.data() + done, bytes.size() - done, 0);
            if (got <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

    int socket_ = -1;
    bool connected_ = false;
};

struct IPadResult {
    std::vector<double> latencies;
    int accepted = 0;
    int otherAnswers = 0;
    bool failed = false;
};

void runIPad(std::uint16_t port, int commands, int index, Clock::time_point deadline,
             IPadResult& result) {
    IPad iPad(port);
    if (!iPad.connected() || !iPad.receive()) {
        result.failed = true;
        return;
    }
    iPad.send(TessaroBridgeHello::make(TessaroBridgePeerRole::tessaro, 1,
                                       "load-ipad-" + std::to_string(index), "Load iPad",
                                       {TessaroBridgeCapability::midi}));
    for (int i = 0; i < commands && Clock::now() < deadline; ++i) {
        const TessaroBridgeCommand command{
            Uuid::random(),
            TessaroBridgePayload::midi({0x90, static_cast<std::uint8_t>(i % 128), 100})};
        const auto sent = Clock::now();
        if (!iPad.send(command)) {
            result.failed = true;
            return;
        }
        const auto answer = iPad.receive();
        const auto received = Clock::now();
        const auto* acknowledgement =
            answer ? answer->bodyIf<TessaroBridgeAcknowledgement>() : nullptr;
        if (acknowledgement == nullptr || acknowledgement->commandID != command.id) {
            result.failed = true;
            return;
        }
        result.latencies.push_back(millisecondsBetween(sent, received));
        if (acknowledgement->status == TessaroBridgeAckStatus::accepted) {
            ++result.accepted;
        } else {
            ++result.otherAnswers;
        }
    }
}

// reserve plus record on the ledger alone: the least a command can cost.
std::vector<double> measureLedgerFloor(const std::filesystem::path& folder) {
    auto ledger = standardLedgerAt(folder);
    std::vector<double> samples;
    for (int i = 0; i < floorSamples; ++i) {
        const Uuid id = Uuid::random();
        const auto start = Clock::now();
        ledger->reserve(id);
        ledger->record(id, CommandLedgerState::executed);
        samples.push_back(millisecondsBetween(start, Clock::now()));
    }
    return samples;
}

int run() {
    TemporaryFolder folder;

    ManualExecutor main;
    std::atomic<int> emitted{0};
    auto preferences =
        std::make_shared<BridgePreferences>(std::make_unique<JsonFilePreferenceStore>(
            folder.path() / "config" / "preferences.json", nullptr));
    BridgeCoordinatorEnvironment environment;
    environment.loadIdentity = [] { return BridgeIdentity{std::string(64, 'a'), "Load Bench"}; };
    environment.makeMIDISystem = [&emitted] {
        return std::make_unique<CountingMIDISystem>(emitted);
    };
    environment.makeLedger = [&folder] { return standardLedgerAt(folder.path() / "data"); };
    environment.makeServerHost = [&main]() -> std::unique_ptr<BridgeServerHost> {
        return std::make_unique<AsioBridgeServerHost>(main, nullptr);
    };
    auto coordinator = BridgeCoordinator::create(preferences, main, std::move(environment));
    std::optional<std::uint16_t> port;
    coordinator->onSnapshotChange = [&port](const BridgeRuntimeSnapshot& snapshot) {
        if (snapshot.serverState.kind() == BridgeServerState::Case::ready) {
            port = snapshot.serverState.port();
        }
    };
    coordinator->start();
    const auto deadline = Clock::now() + runLimit;
    while (!port && Clock::now() < deadline && !coordinator->startupError()) {
        main.runDue();
        std::this_thread::sleep_for(1ms);
    }
    if (!port) {
        std::fprintf(stderr, "The server did not become ready: %s\n",
                     coordinator->startupError().value_or("time-out").c_str());
        return 1;
    }

    std::vector<IPadResult> results(connectionCount);
    std::vector<std::thread> iPads;
    const auto start = Clock::now();
    for (int i = 0; i < connectionCount; ++i) {
        const int commands = commandCount / connectionCount + (i < commandCount % connectionCount);
        iPads.emplace_back(runIPad, *port, commands, i, deadline, std::ref(results[i]));
    }
    std::atomic<bool> clientsDone{false};
    std::thread joiner([&] {
        for (auto& iPad : iPads) {
            iPad.join();
        }
        clientsDone = true;
    });
    // Status reports keep arriving on the main thread meanwhile.
    while (!clientsDone) {
        main.runDue();
        std::this_thread::sleep_for(1ms);
    }
    joiner.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    IPadResult solo;
    std::thread soloIPad(runIPad, *port, static_cast<int>(soloCommands), connectionCount, deadline,
                         std::ref(solo));
    soloIPad.join();
    coordinator->finishServer(BridgeCoordinator::stopGrace);
    main.runDue();
    coordinator.reset();
    const auto floor = measureLedgerFloor(folder.path() / "data");

    std::vector<double> latencies;
    int accepted = 0;
    int otherAnswers = 0;
    int failedConnections = 0;
    for (const auto& result : results) {
        latencies.insert(latencies.end(), result.latencies.begin(), result.latencies.end());
        accepted += result.accepted;
        otherAnswers += result.otherAnswers;
        failedConnections += result.failed ? 1 : 0;
    }
    std::printf("connections: %d, commands acknowledged: %zu of %d (accepted %d, other %d), "
                "MIDI emitted in both runs: %d, failed connections: %d\n",
                connectionCount, latencies.size(), commandCount, accepted, otherAnswers,
                emitted.load(), failedConnections);
    std::printf("elapsed: %.2f s, acknowledgements per second: %.1f\n", seconds,
                static_cast<double>(latencies.size()) / seconds);
    std::printf("send to acknowledgement: median %.2f ms, p99 %.2f ms\n",
                percentile(latencies, 0.5), percentile(latencies, 0.99));
    std::printf("server time per command (elapsed / acknowledged): %.2f ms\n",
                seconds * 1000 / static_cast<double>(latencies.size()));
    std::printf("one connection alone, %zu commands: median %.2f ms, p99 %.2f ms\n",
                solo.latencies.size(), percentile(solo.latencies, 0.5),
                percentile(solo.latencies, 0.99));
    std::printf("ledger floor (reserve + record alone, %d samples): median %.2f ms, p99 %.2f ms\n",
                floorSamples, percentile(floor, 0.5), percentile(floor, 0.99));
    std::printf("median / floor median: 8 connections %.2f, one connection %.2f\n",
                percentile(latencies, 0.5) / percentile(floor, 0.5),
                percentile(solo.latencies, 0.5) / percentile(floor, 0.5));
    const bool complete = static_cast<int>(latencies.size()) == commandCount &&
                          failedConnections == 0 && !solo.failed &&
                          solo.latencies.size() == soloCommands;
    return complete ? 0 : 1;
}

} // namespace
} // namespace varnello

int main() {
    return varnello::run();
}
