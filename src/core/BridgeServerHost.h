#pragma once

#include "core/BridgeIdentity.h"
#include "server/BridgeCommandIntake.h"
#include "server/BridgeServer.h"
#include "support/Executor.h"

#include <chrono>
#include <memory>

namespace varnello {

// What the bridge server runs on (its queue, its transport, its DNS-SD
// advertisement), kept alive by the coordinator until after the server is
// gone. Main thread only.
class BridgeServerHost {
public:
    virtual ~BridgeServerHost() = default;

    virtual std::shared_ptr<BridgeServer>
    makeServer(const BridgeIdentity& identity, std::weak_ptr<BridgeCommandIntake> commands) = 0;

    // The server queue, where commands run; until finish.
    virtual Executor& queue() noexcept = 0;

    // Once the server has been told to stop: lets its queue finish what it still
    // has to do (answers to pending agent requests among it) for at most `grace`,
    // then ends the queue. False when the queue could not be ended because a
    // handler never returned (a name lookup that hangs): it is left running, and
    // the process must end without destroying what that handler may touch.
    // Idempotent.
    virtual bool finish(std::chrono::milliseconds grace) = 0;
};

} // namespace varnello
