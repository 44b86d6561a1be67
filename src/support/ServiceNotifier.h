#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace varnello {

// Tells the service manager that supervises the program how it is doing. Where
// no service manager listens, every call does nothing. Thread-safe.
class ServiceNotifier {
public:
    virtual ~ServiceNotifier() = default;

    // The service is up: iPads can connect.
    virtual void ready() = 0;
    // What the service is doing, in one line, as users read it.
    virtual void status(std::string_view text) = 0;
    // The program still runs its work; sent more often than watchdogTimeout.
    virtual void watchdog() = 0;
    // The service is shutting down.
    virtual void stopping() = 0;

    // How long the service manager waits for a watchdog call before it takes the
    // program for hung; nothing when it does not watch.
    virtual std::optional<std::chrono::microseconds> watchdogTimeout() const = 0;
};

} // namespace varnello
