#pragma once

#include "core/BridgeCommandProcessor.h"
#include "core/BridgeCoordinatorEnvironment.h"
#include "core/BridgeIdentity.h"
#include "core/BridgePreferences.h"
#include "core/BridgeRuntimeSnapshot.h"
#include "core/BridgeServerHost.h"
#include "protocol/TessaroBridgeAcknowledgement.h"
#include "protocol/TessaroBridgeCommand.h"
#include "server/BridgeCommandQueue.h"
#include "server/BridgeServer.h"
#include "server/BridgeServerState.h"
#include "support/Executor.h"
#include "support/Logger.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace varnello {

// The one owner of every working part of the bridge: identity, preferences,
// MIDI source, OSC forwarder, command ledger and, from its first use, the
// server. It answers every command of every iPad (handleCommand), turns what
// the user interface shows into snapshots, and tells the service manager when
// the bridge is ready, what its server is doing and when it stops.
//
// Must be owned by the std::shared_ptr that create returns. Creation, start,
// the accessors, finishServer and destruction belong to the main thread (the
// thread of `mainExecutor`); snapshots are delivered there only. handleCommand
// runs on the server queue; publishSnapshot may be called from any thread.
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

    // Created with the identity and the command handler on first access; throws
    // when the server's surroundings cannot be created.
    BridgeServer& server();

    // Tells the service manager that the bridge is stopping, stops the server and
    // lets its queue finish for at most `grace` (pending agent requests are
    // answered meanwhile). Does nothing without a server. False when the queue
    // was left inside a handler that never returned (see BridgeServerHost::finish):
    // the server is then kept, and the process must end without destroying the
    // coordinator.
    bool finishServer(std::chrono::milliseconds grace);

    // Server queue. Never throws: each failure is a rejected acknowledgement.
    TessaroBridgeAcknowledgement handleCommand(const TessaroBridgeCommand& command) noexcept;

    // The handler the server runs each batch of commands through. It holds the
    // command path weakly; once the coordinator is gone it answers each command
    // rejected, "The Bridge is no longer available.".
    BridgeCommandHandler commandHandler() const;

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
    LedgerFill ledgerFill() const noexcept { return processor_->ledgerFill(); }
    // The MIDI system the source was published on ("alsa", "jack"). Any thread.
    std::string_view midiSystemName() const noexcept {
        return processor_->midiSource().systemName();
    }

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
    // Shared with the command handler, which holds it weakly: commands never
    // keep the coordinator, or its server, alive.
    std::shared_ptr<BridgeCommandProcessor> processor_;
    BridgeServerState serverState_ = BridgeServerState::stopped();
    std::int64_t connectedClientCount_ = 0;
    std::optional<std::string> startupError_;
    std::optional<BridgePreferences::ObserverToken> preferencesObserver_;
    // Declared before the server, so that it outlives it.
    std::unique_ptr<BridgeServerHost> serverHost_;
    std::shared_ptr<BridgeServer> server_;
};

} // namespace varnello
