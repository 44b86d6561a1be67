#pragma once

#include "server/BridgeClientSession.h"
#include "server/BridgeCommandQueue.h"
#include "support/Executor.h"

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

// A submitter that answers in the next turn of the queue, as the server's
// command queue does for a lone command.
inline BridgeCommandSubmitter answeringNextTurn(Executor& queue, CommandAnswer answer) {
    return [&queue, answer = std::move(answer)](
               const TessaroBridgeCommand& command,
               std::function<void(const TessaroBridgeAcknowledgement&)> completion) {
        queue.post([acknowledgement = answer(command), completion = std::move(completion)] {
            completion(acknowledgement);
        });
    };
}

} // namespace varnello::testing
