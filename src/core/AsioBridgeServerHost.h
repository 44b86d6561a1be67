#pragma once

#include "core/BridgeServerHost.h"
#include "core/ServerQueueWatchdog.h"
#include "server/AsioServerQueue.h"
#include "server/AsioTcpTransport.h"
#include "support/Executor.h"
#include "support/LogSink.h"
#include "support/ServiceNotifier.h"

#include <memory>

namespace varnello {

// The program's server surroundings: a server queue on its own Asio thread,
// TCP over Asio on that queue, and DNS-SD through the Avahi daemon. When the
// service manager watches the program, the queue tells it, itself, that it still
// runs. Main thread only; `mainThread` must outlive it.
class AsioBridgeServerHost final : public BridgeServerHost {
public:
    AsioBridgeServerHost(Executor& mainThread, std::shared_ptr<LogSink> logSink,
                         std::shared_ptr<ServiceNotifier> serviceNotifier = nullptr);
    // Ends the queue at once if finish was not called.
    ~AsioBridgeServerHost() override;

    AsioBridgeServerHost(const AsioBridgeServerHost&) = delete;
    AsioBridgeServerHost& operator=(const AsioBridgeServerHost&) = delete;

    std::shared_ptr<BridgeServer> makeServer(const BridgeIdentity& identity,
                                             std::weak_ptr<BridgeCommandIntake> commands) override;
    Executor& queue() noexcept override { return *queue_; }
    bool finish(std::chrono::milliseconds grace) override;

private:
    Executor& mainThread_;
    std::shared_ptr<LogSink> logSink_;
    // The transport makes its sockets on the queue's context, so it goes first.
    std::unique_ptr<AsioServerQueue> queue_;
    std::unique_ptr<AsioTcpTransport> transport_;
    std::shared_ptr<ServerQueueWatchdog> watchdog_;
};

} // namespace varnello
