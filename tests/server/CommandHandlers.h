#pragma once

#include "server/BridgeClientSession.h"
#include "server/BridgeCommandQueue.h"

#include <functional>
#include <utility>
#include <vector>

namespace varnello::testing {

using CommandAnswer =
    std::function<TessaroBridgeAcknowledgement(const TessaroBridgeCommand& command)>;

// A batch handler that answers each command of a batch on its own.
inline BridgeCommandHandler eachCommand(CommandAnswer answer) {
    return [answer = std::move(answer)](std::span<const TessaroBridgeCommand> commands) {
        std::vector<TessaroBridgeAcknowledgement> answers;
        for (const TessaroBridgeCommand& command : commands) {
            answers.push_back(answer(command));
        }
        return answers;
    };
}

// A submitter that answers at once, while the session is still handling the
// command's message.
inline BridgeCommandSubmitter answeringAtOnce(CommandAnswer answer) {
    return [answer = std::move(answer)](
               const TessaroBridgeCommand& command,
               const std::function<void(const TessaroBridgeAcknowledgement&)>& completion) {
        completion(answer(command));
    };
}

} // namespace varnello::testing
