#pragma once

#include "server/DnsServiceRegistrar.h"
#include "support/Executor.h"
#include "support/Logger.h"

#include <cstdint>
#include <memory>
#include <string>

namespace varnello {

// Advertises the bridge's iPad listener over DNS-SD and logs what became of
// it (category "bonjour"). Main thread only: `mainThread` tells which thread
// that is, and carries the outcome reports there.
class BonjourPublisher {
public:
    // Over the Avahi daemon.
    BonjourPublisher(Executor& mainThread, std::shared_ptr<LogSink> logSink);
    // Over the given registrar.
    BonjourPublisher(Executor& mainThread, std::shared_ptr<LogSink> logSink,
                     std::unique_ptr<DnsServiceRegistrar> registrar);

    BonjourPublisher(const BonjourPublisher&) = delete;
    BonjourPublisher& operator=(const BonjourPublisher&) = delete;

    // Replaces any advertisement with one of type "_tessaro._tcp." in
    // "local." under `name`, with `port` and `txt`.
    void publish(const std::string& name, std::uint16_t port, const DnsTxtRecord& txt);
    // Withdraws the advertisement; nothing when there is none.
    void stop();

    bool isPublished() const noexcept { return isPublished_; }

private:
    Executor& mainThread_;
    Logger logger_;
    std::unique_ptr<DnsServiceRegistrar> registrar_;
    bool isPublished_ = false;
};

} // namespace varnello
