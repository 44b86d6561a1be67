#pragma once

#include "support/ServiceNotifier.h"

namespace varnello {

// The service manager is systemd, reached through sd_notify: NOTIFY_SOCKET names
// its socket and WATCHDOG_USEC its watchdog time-out. Without NOTIFY_SOCKET
// nothing is sent. Thread-safe.
class SystemdServiceNotifier final : public ServiceNotifier {
public:
    void ready() override;
    void status(std::string_view text) override;
    void watchdog() override;
    void stopping() override;
    std::optional<std::chrono::microseconds> watchdogTimeout() const override;
};

} // namespace varnello
