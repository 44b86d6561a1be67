#include "core/BridgeCoordinatorEnvironment.h"

#include "core/AsioBridgeServerHost.h"
#include "ledger/PosixLedgerFileSystem.h"

namespace varnello {

BridgeCoordinatorEnvironment
standardBridgeCoordinatorEnvironment(Executor& mainExecutor, std::shared_ptr<LogSink> logSink,
                                     MIDIBackendChoice midiChoice,
                                     std::shared_ptr<ServiceNotifier> serviceNotifier) {
    BridgeCoordinatorEnvironment environment;
    environment.logSink = logSink;
    environment.loadIdentity = [] { return BridgeIdentity::loadOrCreate(); };
    environment.makeMIDISystem = [midiChoice] { return makeMIDISystem(midiChoice); };
    environment.makeLedger = [] {
        return std::make_unique<CommandLedger>(std::make_shared<PosixLedgerFileSystem>());
    };
    environment.makeServerHost = [&mainExecutor, logSink,
                                  serviceNotifier]() -> std::unique_ptr<BridgeServerHost> {
        return std::make_unique<AsioBridgeServerHost>(mainExecutor, logSink, serviceNotifier);
    };
    environment.serviceNotifier = std::move(serviceNotifier);
    return environment;
}

} // namespace varnello
