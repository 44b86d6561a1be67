#pragma once

#include "../server/FakeTcpTransport.h"
#include "core/BridgeCoordinator.h"
#include "core/BridgePreferences.h"
#include "core/JsonFilePreferenceStore.h"
#include "ledger/CommandLedger.h"
#include "ledger/PosixLedgerFileSystem.h"
#include "outputs/MIDISystem.h"
#include "protocol/TessaroBridgeCommand.h"
#include "server/BonjourPublisher.h"
#include "server/BridgeServer.h"
#include "server/DnsServiceRegistrar.h"
#include "support/ManualExecutor.h"
#include "support/RecordingLogSink.h"
#include "support/TemporaryFolder.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnello::testing {

// What the MIDI system of a coordinator under test saw, and how it answers.
// Shared with the test, so it outlives the coordinator.
struct MIDIRecord {
    std::vector<std::vector<std::uint8_t>> packets;
    std::optional<std::int32_t> uniqueID;
    int liveClients = 0;
    MIDIStatus emitStatus = 0;
    // Runs inside each successful emission, before it returns.
    std::function<void()> duringEmit;
};

class RecordingMIDISystem final : public MIDISystem {
public:
    explicit RecordingMIDISystem(std::shared_ptr<MIDIRecord> record) : record_(std::move(record)) {}

    MIDIStatus createClient(std::string_view, MIDIClientRef& client) override {
        client = 1;
        ++record_->liveClients;
        return 0;
    }
    MIDIStatus createSource(MIDIClientRef, std::string_view, MIDIEndpointRef& endpoint) override {
        endpoint = 2;
        return 0;
    }
    MIDIStatus setStringProperty(MIDIEndpointRef, MIDIStringProperty, std::string_view) override {
        return 0;
    }
    MIDIStatus setIntegerProperty(MIDIEndpointRef, MIDIIntegerProperty,
                                  std::int32_t value) override {
        record_->uniqueID = value;
        return 0;
    }
    MIDIStatus emit(MIDIEndpointRef, MIDITimeStamp, std::span<const std::uint8_t> bytes) override {
        if (record_->emitStatus != 0) {
            return record_->emitStatus;
        }
        record_->packets.emplace_back(bytes.begin(), bytes.end());
        if (record_->duringEmit) {
            record_->duringEmit();
        }
        return 0;
    }
    void disposeEndpoint(MIDIEndpointRef) noexcept override {}
    void disposeClient(MIDIClientRef) noexcept override { --record_->liveClients; }
    MIDITimeStamp currentHostTime() const noexcept override { return 0; }

private:
    std::shared_ptr<MIDIRecord> record_;
};

// Keeps the port of every advertisement asked for; announces nothing.
class PortRecordingRegistrar final : public DnsServiceRegistrar {
public:
    explicit PortRecordingRegistrar(std::shared_ptr<std::vector<std::uint16_t>> ports)
        : ports_(std::move(ports)) {}

    void setHandlers(Handlers) override {}
    void publish(const DnsServiceAdvertisement& advertisement) override {
        ports_->push_back(advertisement.port);
    }
    void withdraw() override {}

private:
    std::shared_ptr<std::vector<std::uint16_t>> ports_;
};

// A server over fake listeners whose queue is the test's main executor, so
// that the test decides when each report happens.
class FakeServerHost final : public BridgeServerHost {
    ManualExecutor& main_;
    int& finishCount_;

public:
    FakeServerHost(ManualExecutor& main, int& finishCount)
        : main_(main), finishCount_(finishCount), transport(main) {}

    std::shared_ptr<BridgeServer> makeServer(const BridgeIdentity& identity,
                                             std::weak_ptr<BridgeCommandIntake> commands) override {
        return std::make_shared<BridgeServer>(
            identity, std::move(commands),
            BridgeServerEnvironment{
                main_, main_, transport,
                std::make_unique<BonjourPublisher>(
                    main_, nullptr, std::make_unique<PortRecordingRegistrar>(publishedPorts))});
    }
    Executor& queue() noexcept override { return main_; }
    // Runs what the queue still holds, the server's stop among it; answers as
    // `queueEnds` says.
    bool finish(std::chrono::milliseconds) override {
        ++finishCount_;
        main_.runDue();
        return queueEnds;
    }

    bool queueEnds = true;

    FakeTcpTransport transport;
    std::shared_ptr<std::vector<std::uint16_t>> publishedPorts =
        std::make_shared<std::vector<std::uint16_t>>();
};

// The limits of the ledgers under test: small, so that each reservation is
// quick and the capacity limit is within reach.
struct LedgerLimits {
    std::int64_t maximumEntries = 64;
    std::int64_t bitCount = 8192;
    std::int64_t hashCount = 3;
    std::int64_t maximumInsertions = 256;
};

inline const BridgeIdentity testIdentity{
    "0a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f9", "Stage Computer"};

// A coordinator over a real ledger and real preferences in a temporary folder,
// a recording MIDI system and a server on fake listeners.
class CoordinatorFixture : public ::testing::Test {
protected:
    CoordinatorFixture() {
        preferences = std::make_shared<BridgePreferences>(std::make_unique<JsonFilePreferenceStore>(
            folder.path() / "config" / "preferences.json", [](const std::string&) {}));
    }

    std::filesystem::path ledgerFile() const {
        return folder.path() / "data" / "TessaroBridge" / "command-ledger.json";
    }

    std::unique_ptr<CommandLedger> makeLedger() const {
        return std::make_unique<CommandLedger>(
            ledgerFile(), std::make_shared<PosixLedgerFileSystem>(), limits.maximumEntries,
            limits.bitCount, limits.hashCount, limits.maximumInsertions);
    }

    BridgeCoordinatorEnvironment environment() {
        BridgeCoordinatorEnvironment result;
        result.logSink = logSink;
        result.loadIdentity = [this] { return identity; };
        result.makeMIDISystem = [record = midi] {
            return std::make_unique<RecordingMIDISystem>(record);
        };
        result.makeLedger = [this] { return makeLedger(); };
        result.makeServerHost = [this]() -> std::unique_ptr<BridgeServerHost> {
            auto host = std::make_unique<FakeServerHost>(main, serverHostFinishes);
            serverHost = host.get();
            return host;
        };
        return result;
    }

    // Work left on the executor may hold a server, which posts to the executor
    // when it goes: run it while the executor is still there.
    void TearDown() override { main.runDue(); }

    std::shared_ptr<BridgeCoordinator> makeCoordinator() {
        return BridgeCoordinator::create(preferences, main, environment());
    }

    TemporaryFolder folder;
    ManualExecutor main;
    std::shared_ptr<RecordingLogSink> logSink = std::make_shared<RecordingLogSink>();
    std::shared_ptr<MIDIRecord> midi = std::make_shared<MIDIRecord>();
    std::shared_ptr<BridgePreferences> preferences;
    BridgeIdentity identity = testIdentity;
    LedgerLimits limits;
    FakeServerHost* serverHost = nullptr;
    int serverHostFinishes = 0;
};

inline TessaroBridgeCommand midiCommand(std::vector<std::uint8_t> bytes = {0x90, 60, 100},
                                        Uuid id = Uuid::random()) {
    return TessaroBridgeCommand{id, TessaroBridgePayload::midi(std::move(bytes))};
}

inline TessaroBridgeCommand oscCommand(std::string address, Uuid id = Uuid::random()) {
    return TessaroBridgeCommand{id, TessaroBridgePayload::osc(std::move(address))};
}

} // namespace varnello::testing
