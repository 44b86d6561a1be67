#pragma once

#include "server/DnsServiceRegistrar.h"

#include <memory>
#include <string>
#include <vector>

namespace varnello::testing {

// Records what the publisher asks of DNS-SD. The log is shared so that it
// outlives the registrar, which the publisher owns.
class FakeDnsServiceRegistrar final : public DnsServiceRegistrar {
public:
    struct Log {
        std::vector<DnsServiceAdvertisement> published;
        int withdrawals = 0;
        // "publish" and "withdraw", in call order.
        std::vector<std::string> calls;
    };

    explicit FakeDnsServiceRegistrar(std::shared_ptr<Log> log) : log_(std::move(log)) {}

    void setHandlers(Handlers) override {}
    void publish(const DnsServiceAdvertisement& advertisement) override {
        log_->published.push_back(advertisement);
        log_->calls.push_back("publish");
    }
    void withdraw() override {
        ++log_->withdrawals;
        log_->calls.push_back("withdraw");
    }

private:
    std::shared_ptr<Log> log_;
};

} // namespace varnello::testing
