#include "core/BridgeCoordinator.h"

#include "core/MIDIUniqueID.h"
#include "outputs/OSCForwarder.h"
#include "outputs/VirtualMIDISource.h"

#include <cassert>
#include <exception>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace varnello {

namespace {

std::unique_ptr<OSCForwarder> makeOSCForwarder() {
    return std::make_unique<OSCForwarder>();
}

// Once when the MIDI output goes, once when it is back.
void logMIDIConnection(const Logger& logger, MIDIConnectionState state, MIDIStatus status) {
    switch (state) {
    case MIDIConnectionState::lost:
        logger.error("MIDI output lost (status " + std::to_string(status) +
                     "); reopening it every second");
        return;
    case MIDIConnectionState::connected:
        logger.notice("MIDI output is back");
        return;
    }
}

} // namespace

std::shared_ptr<BridgeCoordinator>
BridgeCoordinator::create(std::shared_ptr<BridgePreferences> preferences, Executor& mainExecutor,
                          BridgeCoordinatorEnvironment environment) {
    std::shared_ptr<BridgeCoordinator> coordinator(
        new BridgeCoordinator(std::move(preferences), mainExecutor, std::move(environment)));
    coordinator->observePreferences();
    coordinator->observeLedgerFill();
    return coordinator;
}

BridgeCoordinator::BridgeCoordinator(std::shared_ptr<BridgePreferences> preferences,
                                     Executor& mainExecutor,
                                     BridgeCoordinatorEnvironment environment)
    : mainExecutor_(mainExecutor), makeServerHost_(std::move(environment.makeServerHost)),
      serviceNotifier_(std::move(environment.serviceNotifier)),
      logger_(std::move(environment.logSink), "runtime"),
      // First: a bad preference must stop the start before the ledger is locked.
      iPadPort_(environment.iPadPort ? environment.iPadPort : preferences->iPadPort()) {
    assertOnMainThread();
    auto oscForwarder = makeOSCForwarder();
    identity_ = environment.loadIdentity();
    preferences_ = std::move(preferences);
    auto midiSource = std::make_unique<VirtualMIDISource>(environment.makeMIDISystem(),
                                                          midiUniqueID(identity_.id));
    auto ledger = environment.makeLedger();
    road_ = std::make_shared<BridgeCommandRoad>(preferences_, std::move(oscForwarder),
                                                std::move(midiSource), std::move(ledger));
}

BridgeCoordinator::~BridgeCoordinator() {
    assertOnMainThread();
    if (preferencesObserver_) {
        preferences_->removeObserver(*preferencesObserver_);
    }
    finishServer(stopGrace);
}

void BridgeCoordinator::observePreferences() {
    preferencesObserver_ = preferences_->addObserver(
        [weak = weak_from_this()](const BridgePreferences::Notification&) {
            if (auto self = weak.lock()) {
                self->publishSnapshot();
            }
        });
}

void BridgeCoordinator::observeLedgerFill() {
    // Runs on the server queue: the coordinator is looked up only on the main thread,
    // so that it is never released on the queue.
    road_->onLedgerFillChange = [weak = weak_from_this(), &main = mainExecutor_] {
        main.post([weak] {
            if (auto self = weak.lock()) {
                self->publishSnapshot();
            }
        });
    };
}

BridgeServer& BridgeCoordinator::server() {
    assertOnMainThread();
    if (!server_) {
        if (!serverHost_) {
            serverHost_ = makeServerHost_();
            road_->runOn(serverHost_->queue());
            // Sends run on the server queue, so a lost MIDI client is reopened there too.
            road_->midiSource().reopenOn(
                serverHost_->queue(),
                [logger = logger_](MIDIConnectionState state, MIDIStatus status) {
                    logMIDIConnection(logger, state, status);
                });
        }
        server_ = serverHost_->makeServer(identity_, road_);
    }
    return *server_;
}

void BridgeCoordinator::start() {
    assertOnMainThread();
    try {
        BridgeServer& bridgeServer = server();
        bridgeServer.onStatusChange = [weak = weak_from_this(),
                                       &main = mainExecutor_](const BridgeServerState& state,
                                                              std::int64_t clientCount) {
            main.post([weak, state, clientCount] {
                if (auto self = weak.lock()) {
                    self->applyServerStatus(state, clientCount);
                }
            });
        };
        bridgeServer.start(iPadPort_);
    } catch (const std::exception& error) {
        const std::string description = error.what();
        logger_.error("Could not start Bonjour server: " + description);
        startupError_ = description;
        serverState_ = BridgeServerState::failed(description);
        tellServiceManager();
        publishSnapshot();
    }
}

bool BridgeCoordinator::finishServer(std::chrono::milliseconds grace) {
    assertOnMainThread();
    road_->midiSource().stopReopening();
    if (server_) {
        if (serviceNotifier_) {
            serviceNotifier_->stopping();
        }
        server_->stop();
    }
    if (serverHost_ && !serverHost_->finish(grace)) {
        // A handler on the queue never returned and may still use the server.
        return false;
    }
    // Released only now, so that the queue no longer runs anything of it.
    server_.reset();
    return true;
}

void BridgeCoordinator::applyServerStatus(const BridgeServerState& state,
                                          std::int64_t clientCount) {
    assertOnMainThread();
    logger_.info("Server status: " + BridgeServer::statusText(state) +
                 ", clients: " + std::to_string(clientCount));
    const bool changed = !(state == serverState_);
    serverState_ = state;
    connectedClientCount_ = clientCount;
    if (changed) {
        tellServiceManager();
    }
    publishSnapshot();
}

void BridgeCoordinator::tellServiceManager() {
    if (!serviceNotifier_) {
        return;
    }
    serviceNotifier_->status(BridgeServer::statusText(serverState_));
    if (serverState_.kind() == BridgeServerState::Case::ready && !toldReady_) {
        toldReady_ = true;
        serviceNotifier_->ready();
    }
}

TessaroBridgeAcknowledgement
BridgeCoordinator::handleCommand(const TessaroBridgeCommand& command) noexcept {
    return road_->carry(std::span(&command, 1)).front();
}

std::vector<TessaroBridgeAcknowledgement>
BridgeCoordinator::handleCommands(std::span<const TessaroBridgeCommand> commands) noexcept {
    return road_->carry(commands);
}

void BridgeCoordinator::publishSnapshot() {
    if (!mainExecutor_.isCurrent()) {
        mainExecutor_.post([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->publishSnapshot();
            }
        });
        return;
    }
    if (onSnapshotChange) {
        onSnapshotChange(snapshot());
    }
}

BridgeRuntimeSnapshot BridgeCoordinator::snapshot() const {
    return BridgeRuntimeSnapshot{
        identity_,     serverState_,       connectedClientCount_, preferences_->oscConfiguration(),
        startupError_, road_->ledgerFill()};
}

void BridgeCoordinator::assertOnMainThread() const noexcept {
    assert(mainExecutor_.isCurrent());
}

} // namespace varnello
