#pragma once

#include <cstdint>
#include <string>

namespace varnello {

// Where OSC commands go, as read from the preferences with every command.
// A plain value. Thread-safe.
struct OSCForwardingConfiguration {
    bool isEnabled = true;
    std::string host = "127.0.0.1";
    std::uint16_t port = 9000;

    friend bool operator==(const OSCForwardingConfiguration&,
                           const OSCForwardingConfiguration&) = default;
};

} // namespace varnello
