#pragma once

#include "core/BridgeIdentity.h"
#include "core/BridgeServerHost.h"
#include "ledger/CommandLedger.h"
#include "outputs/MIDIBackendChoice.h"
#include "outputs/MIDISystem.h"
#include "support/Executor.h"
#include "support/LogSink.h"
#include "support/ServiceNotifier.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace varnello {

// Everything the coordinator creates, so that a test can put the ledger in a
// temporary folder or force a failure where a real component cannot be made to
// fail. Each maker is called at most once, on the main thread.
struct BridgeCoordinatorEnvironment {
    std::shared_ptr<LogSink> logSink;
    std::function<BridgeIdentity()> loadIdentity;
    std::function<std::unique_ptr<MIDISystem>()> makeMIDISystem;
    std::function<std::unique_ptr<CommandLedger>()> makeLedger;
    // Called when the server is first needed.
    std::function<std::unique_ptr<BridgeServerHost>()> makeServerHost;
    // Told the server's state and the bridge's readiness; none when empty.
    std::shared_ptr<ServiceNotifier> serviceNotifier;
    // The iPad port asked for on the command line; it wins over the preference.
    std::optional<std::uint16_t> iPadPort;
};

// The program's: this machine's identity, the chosen MIDI system, the standard
// ledger under the user's data home, and a server on its own Asio queue thread
// advertised through Avahi, whose queue also feeds the service manager's
// watchdog. `mainExecutor` must outlive the coordinator.
BridgeCoordinatorEnvironment
standardBridgeCoordinatorEnvironment(Executor& mainExecutor, std::shared_ptr<LogSink> logSink,
                                     MIDIBackendChoice midiChoice,
                                     std::shared_ptr<ServiceNotifier> serviceNotifier);

} // namespace varnello
