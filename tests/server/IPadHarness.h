#pragma once

#include "server/BridgeClientSession.h"
#include "server/FakeTcpTransport.h"
#include "server/ScriptedCommandIntake.h"
#include "server/WireHelpers.h"
#include "support/Executor.h"

#include <memory>
#include <string>
#include <vector>

namespace varnello::testing {

// An iPad session over a fake connection that has said hello (or not).
struct FakeIPad {
    std::shared_ptr<ScriptedCommandIntake> commands;
    std::shared_ptr<FakeTcpConnection> connection;
    std::shared_ptr<BridgeClientSession> session;

    // Messages the bridge sent to this iPad after its own hello.
    std::vector<TessaroBridgeMessage> received() const {
        auto messages = messagesIn(connection->sentBytes);
        if (!messages.empty()) {
            messages.erase(messages.begin());
        }
        return messages;
    }
};

inline FakeIPad connectIPad(Executor& queue, const std::string& helloJson) {
    FakeIPad iPad;
    iPad.commands =
        ScriptedCommandIntake::answeringNextTurn(queue, [](const TessaroBridgeCommand& command) {
            return TessaroBridgeAcknowledgement{command.id, TessaroBridgeAckStatus::accepted,
                                                std::nullopt};
        });
    iPad.connection = std::make_shared<FakeTcpConnection>(queue);
    iPad.session = std::make_shared<BridgeClientSession>(
        queue, Uuid::random(), iPad.connection,
        TessaroBridgeHello::make(TessaroBridgePeerRole::bridge, 1, std::string(64, 'b'), "Mac",
                                 {TessaroBridgeCapability::midi, TessaroBridgeCapability::osc}),
        iPad.commands);
    iPad.session->start();
    iPad.connection->report(TcpConnection::State::ready);
    if (!helloJson.empty()) {
        iPad.connection->deliver(frameOf(helloJson));
    }
    return iPad;
}

} // namespace varnello::testing
