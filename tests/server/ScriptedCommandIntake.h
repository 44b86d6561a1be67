#pragma once

#include "server/BridgeCommandIntake.h"
#include "support/Executor.h"

#include <functional>
#include <memory>
#include <utility>

namespace varnello::testing {

using CommandAnswer =
    std::function<TessaroBridgeAcknowledgement(const TessaroBridgeCommand& command)>;

// Takes the sessions' commands the way the test says. Sessions hold it weakly,
// so the test keeps it.
class ScriptedCommandIntake final : public BridgeCommandIntake {
public:
    using Script = std::function<void(const TessaroBridgeCommand& command, Completion completion)>;

    explicit ScriptedCommandIntake(Script script) : script_(std::move(script)) {}

    // Answers every command by `answer` in the next turn of the queue, as the
    // bridge does a lone command.
    static std::shared_ptr<ScriptedCommandIntake> answeringNextTurn(Executor& queue,
                                                                    CommandAnswer answer) {
        return std::make_shared<ScriptedCommandIntake>(
            [&queue, answer = std::move(answer)](const TessaroBridgeCommand& command,
                                                 Completion completion) {
                queue.post([acknowledgement = answer(command), completion = std::move(completion)] {
                    completion(acknowledgement);
                });
            });
    }

    void submit(const TessaroBridgeCommand& command, Completion completion) override {
        script_(command, std::move(completion));
    }

private:
    Script script_;
};

} // namespace varnello::testing
