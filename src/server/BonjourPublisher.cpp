#include "server/BonjourPublisher.h"

#include "server/AvahiServiceRegistrar.h"
#include "server/BonjourAdvertisement.h"

#include <cassert>

namespace varnello {

BonjourPublisher::BonjourPublisher(Executor& mainThread, std::shared_ptr<LogSink> logSink)
    : BonjourPublisher(mainThread, std::move(logSink),
                       std::make_unique<AvahiServiceRegistrar>(mainThread)) {}

BonjourPublisher::BonjourPublisher(Executor& mainThread, std::shared_ptr<LogSink> logSink,
                                   std::unique_ptr<DnsServiceRegistrar> registrar)
    : mainThread_(mainThread), logger_(std::move(logSink), "bonjour"),
      registrar_(std::move(registrar)) {
    assert(mainThread_.isCurrent());
    // The registrar belongs to this publisher and reports nothing once gone.
    registrar_->setHandlers({
        [this](const std::string& name, const std::string& type) {
            logger_.notice("Bonjour-service geregistreerd: " + name + "." + type);
        },
        [this](const DnsServiceError& error) {
            logger_.error("Bonjour publication failed: " + error.message());
        },
    });
}

void BonjourPublisher::publish(const std::string& name, std::uint16_t port,
                               const DnsTxtRecord& txt) {
    assert(mainThread_.isCurrent());
    if (isPublished_) {
        registrar_->withdraw();
    }
    registrar_->publish({name, std::string(bonjourServiceType), port, txt});
    isPublished_ = true;
}

void BonjourPublisher::stop() {
    assert(mainThread_.isCurrent());
    if (!isPublished_) {
        return;
    }
    registrar_->withdraw();
    isPublished_ = false;
}

} // namespace varnello
