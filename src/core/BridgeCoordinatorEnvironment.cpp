#include "core/BridgeCoordinatorEnvironment.h"

#include "core/AsioBridgeServerHost.h"
#include "ledger/PosixLedgerFileSystem.h"

namespace varnello {

BridgeCoordinatorEnvironment standardBridgeCoordinatorEnvironment(Executor& mainExecutor,
                                                                  std::shared_ptr<LogSink> logSink,
                                                                  MIDIBackendChoice midiChoice) {
    BridgeCoordinatorEnvironment environment;
    environment.logSink = logSink;
    environment.loadIdentity = [] { return BridgeIdentity::loadOrCreate(); };
    environment.makeMIDISystem = [midiChoice] { return makeMIDISystem(midiChoice); };
    environment.makeLedger = [] {
        return std::make_unique<CommandLedger>(std::make_shared<PosixLedgerFileSystem>());
    };
    environment.makeServerHost = [&mainExecutor, logSink]() -> std::unique_ptr<BridgeServerHost> {
        return std::make_unique<AsioBridgeServerHost>(mainExecutor, logSink);
    };
    return environment;
}

} // namespace varnello
