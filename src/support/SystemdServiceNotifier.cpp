#include "support/SystemdServiceNotifier.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <systemd/sd-daemon.h>

namespace varnello {
namespace {

// A failed notification cannot be helped from here, and systemd notices what
// matters by itself: a missing READY=1 or watchdog call.
void send(const std::string& assignments) {
    sd_notify(0, assignments.c_str());
}

} // namespace

void SystemdServiceNotifier::ready() {
    send("READY=1");
}

void SystemdServiceNotifier::status(std::string_view text) {
    // One assignment per line: a line break would end the status early.
    std::string line(text);
    std::replace(line.begin(), line.end(), '\n', ' ');
    send("STATUS=" + line);
}

void SystemdServiceNotifier::watchdog() {
    send("WATCHDOG=1");
}

void SystemdServiceNotifier::stopping() {
    send("STOPPING=1");
}

std::optional<std::chrono::microseconds> SystemdServiceNotifier::watchdogTimeout() const {
    // Without a socket to tell, a watchdog time-out has nobody to serve.
    std::uint64_t microseconds = 0;
    if (std::getenv("NOTIFY_SOCKET") == nullptr || sd_watchdog_enabled(0, &microseconds) <= 0 ||
        microseconds == 0) {
        return std::nullopt;
    }
    return std::chrono::microseconds(microseconds);
}

} // namespace varnello
