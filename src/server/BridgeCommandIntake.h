#pragma once

#include "protocol/TessaroBridgeAcknowledgement.h"
#include "protocol/TessaroBridgeCommand.h"

#include <functional>
#include <string_view>

namespace varnello {

// Where the iPad sessions hand their commands on: whatever executes a command and
// answers it. The server declares it and holds it weakly; the bridge's core
// implements it. Server queue only.
class BridgeCommandIntake {
public:
    using Completion = std::function<void(const TessaroBridgeAcknowledgement& acknowledgement)>;

    // The answer a session gives itself once what would execute the command is gone.
    static constexpr std::string_view unavailableDetail = "The Bridge is no longer available.";

    virtual ~BridgeCommandIntake() = default;

    // Commands are executed in the order they are submitted. The completion runs in
    // a later turn of the server queue with the command's acknowledgement, never
    // within the call.
    virtual void submit(const TessaroBridgeCommand& command, Completion completion) = 0;
};

} // namespace varnello
