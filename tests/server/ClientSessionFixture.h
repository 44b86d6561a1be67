#pragma once

#include "server/BridgeClientSession.h"
#include "server/FakeTcpTransport.h"
#include "server/ScriptedCommandIntake.h"
#include "server/WireHelpers.h"
#include "support/ManualExecutor.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The iPad session tests' fixture: a session over a fake connection whose
// commands are answered by the test.
namespace varnello::testing::clientsession {

inline const std::string commandA = "8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B";
inline const std::string commandB = "11111111-2222-4333-8444-555555555555";
inline const std::string requestA = "4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A";

inline const std::string helloJson = testing::tessaroHelloJson("ipad-1", R"(["midi","agentAPI"])");
inline const std::string bridgeRoleHelloJson =
    testing::tessaroHelloJson("ipad-1", R"(["midi"])", "bridge");
inline const std::string version2HelloJson =
    R"({"type":"hello","body":{"role":"tessaro","protocolVersion":2,"peerID":"p","displayName":"d","capabilities":["midi"]}})";
inline const std::string acknowledgementJson =
    R"({"type":"acknowledgement","body":{"commandID":")" + commandA + R"(","status":"accepted"}})";
inline const std::string agentRequestJson = testing::agentRequestJson(requestA, "capabilities");
inline const std::string agentResponseJson = testing::agentResponseJson(requestA, "accepted");

inline TessaroBridgeAcknowledgement acceptedBy(const TessaroBridgeCommand& command) {
    return {command.id, TessaroBridgeAckStatus::accepted, "ran " + *command.payload.oscAddress()};
}

inline TessaroBridgeAcknowledgement rejectedBeforeHello(const std::string& id) {
    return {uuidOf(id), TessaroBridgeAckStatus::rejected, "Send a valid Varnello hello first."};
}

inline TessaroBridgeMessage relayedRequest(std::size_t payloadBytes = 0) {
    return TessaroBridgeAgentRequest{
        Uuid::random(), std::nullopt, TessaroBridgeAgentOperation::execute,
        payloadBytes == 0 ? std::nullopt
                          : std::optional(std::vector<std::uint8_t>(payloadBytes, 0x5A))};
}

inline TessaroBridgeAcknowledgement acceptedFor(const std::string& id) {
    return {uuidOf(id), TessaroBridgeAckStatus::accepted, "ran /cue/1/go"};
}

class ClientSessionTest : public ::testing::Test {
protected:
    ClientSessionTest() {
        connection = std::make_shared<FakeTcpConnection>(queue);
        session = std::make_shared<BridgeClientSession>(queue, Uuid::random(), connection,
                                                        bridgeHello(), intake);
        session->onFinished = [this](const Uuid& id) {
            EXPECT_EQ(id, session->id());
            ++finishedCount;
        };
        session->onAgentResponse = [this](const TessaroBridgeAgentResponse& response) {
            agentResponses.push_back(response);
        };
    }

    static TessaroBridgeHello bridgeHello() {
        return TessaroBridgeHello::make(
            TessaroBridgePeerRole::bridge, 1, std::string(64, 'a'), "Studio",
            {TessaroBridgeCapability::midi, TessaroBridgeCapability::osc});
    }

    void startReady() {
        session->start();
        connection->report(TcpConnection::State::ready);
        queue.runDue();
    }

    // What the session sent after its own hello.
    std::vector<TessaroBridgeMessage> answers() const {
        auto messages = messagesIn(connection->sentBytes);
        EXPECT_FALSE(messages.empty());
        if (!messages.empty()) {
            messages.erase(messages.begin());
        }
        return messages;
    }

    bool isClosed() const {
        return connection->cancelCount > 0 && finishedCount == 1 &&
               !connection->hasPendingReceive();
    }
    bool isOpen() const {
        return connection->cancelCount == 0 && finishedCount == 0 &&
               connection->hasPendingReceive();
    }

    using Completion = std::function<void(const TessaroBridgeAcknowledgement&)>;

    ManualExecutor queue;
    std::shared_ptr<ScriptedCommandIntake> answerNextTurn =
        ScriptedCommandIntake::answeringNextTurn(queue, acceptedBy);
    std::shared_ptr<ScriptedCommandIntake> intake = std::make_shared<ScriptedCommandIntake>(
        [this](const TessaroBridgeCommand& command, Completion completion) {
            commands.push_back(command);
            if (holdAnswers) {
                heldAnswers.push_back(std::move(completion));
            } else {
                answerNextTurn->submit(command, std::move(completion));
            }
        });
    // Commands then wait, as they do for a batch, until a test answers them.
    bool holdAnswers = false;
    std::vector<Completion> heldAnswers;
    std::shared_ptr<FakeTcpConnection> connection;
    std::shared_ptr<BridgeClientSession> session;
    std::vector<TessaroBridgeCommand> commands;
    std::vector<TessaroBridgeAgentResponse> agentResponses;
    int finishedCount = 0;
};

} // namespace varnello::testing::clientsession
