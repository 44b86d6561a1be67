#include "core/AsioBridgeServerHost.h"

#include "server/BonjourPublisher.h"

#include <cassert>
#include <utility>

namespace varnello {

AsioBridgeServerHost::AsioBridgeServerHost(Executor& mainThread, std::shared_ptr<LogSink> logSink,
                                           std::shared_ptr<ServiceNotifier> serviceNotifier)
    : mainThread_(mainThread), logSink_(std::move(logSink)),
      queue_(std::make_unique<AsioServerQueue>()),
      transport_(std::make_unique<AsioTcpTransport>(queue_->context())),
      watchdog_(ServerQueueWatchdog::start(queue_->context(), std::move(serviceNotifier))) {}

AsioBridgeServerHost::~AsioBridgeServerHost() {
    finish(std::chrono::milliseconds{0});
}

std::shared_ptr<BridgeServer>
AsioBridgeServerHost::makeServer(const BridgeIdentity& identity,
                                 std::weak_ptr<BridgeCommandIntake> commands) {
    assert(mainThread_.isCurrent());
    return std::make_shared<BridgeServer>(
        identity, std::move(commands),
        BridgeServerEnvironment{mainThread_, *queue_, *transport_,
                                std::make_unique<BonjourPublisher>(mainThread_, logSink_)});
}

bool AsioBridgeServerHost::finish(std::chrono::milliseconds grace) {
    assert(mainThread_.isCurrent());
    if (watchdog_) {
        watchdog_->stop();
    }
    return queue_->stop(grace);
}

} // namespace varnello
