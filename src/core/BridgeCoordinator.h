#pragma once

#include "core/BridgeCommandRoad.h"
#include "core/BridgeCoordinatorEnvironment.h"
#include "core/BridgeIdentity.h"
#include "core/BridgePreferences.h"
#include "core/BridgeRuntimeSnapshot.h"
#include "core/BridgeServerHost.h"
#include "protocol/TessaroBridgeAcknowledgement.h"
#include "protocol/TessaroBridgeCommand.h"
#include "server/BridgeServer.h"
#include "server/BridgeServerState.h"
#include "support/Executor.h"
#include "support/Logger.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnello {

// The one owner of every working part of the bridge: identity, preferences,
// MIDI source, OSC forwarder, command ledger and, from its first use, the
// server. Every command of every iPad goes its road (BridgeCommandRoad, which
// the server hands commands to directly); it turns what the user interface
// shows into snapshots, and tells the service manager when
// the bridge is ready, what its server is doing and when it stops.
//
// Must be owned by the std::shared_ptr that create returns. Creation, start,
// the accessors, finishServer and destruction belong to the main thread (the
// thread of `mainExecutor`); snapshots are delivered there only. handleCommand
// and handleCommands run on the server queue once the server exists (before,
// on the main thread); publishSnapshot may be called from any thread.
class BridgeCoordinator : public std::enable_shared_from_this<BridgeCoordinator> {
public:
    using SnapshotHandler = std::function<void(const BridgeRuntimeSnapshot& snapshot)>;

    // Settles the iPad port (the environment's, else the preference's), then
    // builds the OSC forwarder, the identity, the MIDI source (its unique ID
    // derived from the identity) and the ledger, in that order, then observes the
    // preferences. Throws, unchanged, whatever the preference, the identity, the
    // MIDI source or the ledger throws (BridgePreferencesError,
    // BridgeIdentityError, VirtualMIDISourceError, CommandLedgerError,
    // CommandLedgerLockError, std::system_error); nothing is left behind then. `mainExecutor` must
    // outlive the coordinator and its server.
    static std::shared_ptr<BridgeCoordinator> create(std::shared_ptr<BridgePreferences> preferences,
                                                     Executor& mainExecutor,
                                                     BridgeCoordinatorEnvironment environment);
    // Withdraws the preferences observer and stops the server, letting it finish
    // for at most stopGrace.
    ~BridgeCoordinator();

    BridgeCoordinator(const BridgeCoordinator&) = delete;
    BridgeCoordinator& operator=(const BridgeCoordinator&) = delete;

    static constexpr std::chrono::milliseconds stopGrace{2000};

    // Set before start.
    SnapshotHandler onSnapshotChange;

    // Creates the server and starts it, on the settled iPad port. Never throws: a failure is logged
    // and kept in the snapshot (startupError and a failed state), and never retried.
    void start();

    // Created with the identity and the command road on first access; throws
    // when the server's surroundings cannot be created.
    BridgeServer& server();

    // Tells the service manager that the bridge is stopping, stops the server and
    // lets its queue finish for at most `grace` (pending agent requests are
    // answered meanwhile). Does nothing without a server. False when the queue
    // was left inside a handler that never returned (see BridgeServerHost::finish):
    // the server is then kept, and the process must end without destroying the
    // coordinator.
    bool finishServer(std::chrono::milliseconds grace);

    // The command's road, answered within the call: after the commands already
    // waiting, as the iPads' commands go. Never throws: each failure is a
    // rejected acknowledgement.
    TessaroBridgeAcknowledgement handleCommand(const TessaroBridgeCommand& command) noexcept;
    // Commands that arrive together, carried as one batch: one acknowledgement
    // each, in their order.
    std::vector<TessaroBridgeAcknowledgement>
    handleCommands(std::span<const TessaroBridgeCommand> commands) noexcept;

    // Delivers a fresh snapshot to onSnapshotChange on the main thread, now when
    // called there, otherwise later. Any thread.
    void publishSnapshot();

    BridgeRuntimeSnapshot snapshot() const;
    const BridgeIdentity& identity() const noexcept { return identity_; }
    const BridgeServerState& serverState() const noexcept { return serverState_; }
    std::int64_t connectedClientCount() const noexcept { return connectedClientCount_; }
    const std::optional<std::string>& startupError() const noexcept { return startupError_; }
    BridgePreferences& preferences() const noexcept { return *preferences_; }
    // Any thread.
    LedgerFill ledgerFill() const noexcept { return road_->ledgerFill(); }
    // The MIDI system the source was published on ("alsa", "jack"). Any thread.
    std::string_view midiSystemName() const noexcept { return road_->midiSource().systemName(); }

private:
    BridgeCoordinator(std::shared_ptr<BridgePreferences> preferences, Executor& mainExecutor,
                      BridgeCoordinatorEnvironment environment);

    void observePreferences();
    void observeLedgerFill();
    void applyServerStatus(const BridgeServerState& state, std::int64_t clientCount);
    // The server state's text, and READY=1 the first time iPads can connect.
    void tellServiceManager();
    void assertOnMainThread() const noexcept;

    Executor& mainExecutor_;
    std::function<std::unique_ptr<BridgeServerHost>()> makeServerHost_;
    std::shared_ptr<ServiceNotifier> serviceNotifier_;
    bool toldReady_ = false;
    Logger logger_;
    // nullopt: the system chooses.
    std::optional<std::uint16_t> iPadPort_;
    BridgeIdentity identity_;
    std::shared_ptr<BridgePreferences> preferences_;
    // Held weakly by the server, so that its sessions never keep the outputs and
    // the ledger alive. Declared before the server, so that it outlives it.
    std::shared_ptr<BridgeCommandRoad> road_;
    BridgeServerState serverState_ = BridgeServerState::stopped();
    std::int64_t connectedClientCount_ = 0;
    std::optional<std::string> startupError_;
    std::optional<BridgePreferences::ObserverToken> preferencesObserver_;
    // Declared before the server, so that it outlives it.
    std::unique_ptr<BridgeServerHost> serverHost_;
    std::shared_ptr<BridgeServer> server_;
};

} // namespace varnello
