#pragma once

#include <optional>
#include <string>

namespace varnello {

// The computer's names for people and for the network. Main thread.
class HostNameSource {
public:
    virtual ~HostNameSource() = default;

    // The name the user gave the computer, or nothing when none is set.
    virtual std::optional<std::string> localizedName() = 0;

    // The network host name; empty when the system gives none.
    virtual std::string hostName() = 0;
};

} // namespace varnello
