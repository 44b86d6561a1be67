#pragma once

#include "protocol/TessaroBridgeFrameCodec.h"
#include "server/BridgeServer.h"
#include "server/FakeDnsServiceRegistrar.h"
#include "server/FakeTcpTransport.h"
#include "server/ScriptedCommandIntake.h"
#include "server/WireHelpers.h"
#include "support/ManualExecutor.h"
#include "support/RecordingLogSink.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The server tests' fixture: a server over fake listeners and connections,
// its reports and the commands its sessions handed on recorded.
namespace varnello::testing::servertest {

using Report = std::pair<BridgeServerState, std::int64_t>;

inline const std::string requestID = "4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A";
inline const BridgeIdentity studio{std::string(64, 'c'), "Studio Mac"};

class ServerTest : public ::testing::Test {
protected:
    void makeServer(BridgeIdentity identity = studio) {
        auto registrar = std::make_unique<FakeDnsServiceRegistrar>(dns);
        auto publisher = std::make_unique<BonjourPublisher>(
            main, std::make_shared<RecordingLogSink>(), std::move(registrar));
        server = std::make_shared<BridgeServer>(
            std::move(identity), commands,
            BridgeServerEnvironment{main, queue, transport, std::move(publisher)});
        server->onStatusChange = [this](const BridgeServerState& state, std::int64_t count) {
            reports.emplace_back(state, count);
        };
        if (limits) {
            server->setConnectionLimits(*limits);
        }
    }

    void startReady(std::uint16_t port = 40123) {
        makeServer();
        server->start();
        queue.runDue();
        iPadListener().boundPort = port;
        iPadListener().report(TcpListener::State::ready);
        main.runDue();
    }

    FakeTcpListener& iPadListener() { return *transport.listeners.at(0); }
    FakeTcpListener& agentListener() { return *transport.listeners.at(1); }

    std::shared_ptr<FakeTcpConnection> connectIPad(const std::string& helloJson) {
        auto connection = iPadListener().connect();
        connection->report(TcpConnection::State::ready);
        if (!helloJson.empty()) {
            connection->deliver(frameOf(helloJson));
        }
        queue.runDue();
        return connection;
    }

    std::shared_ptr<FakeTcpConnection> sendAgentRequest(const std::string& requestJson) {
        auto connection = agentListener().connect();
        connection->report(TcpConnection::State::ready);
        connection->deliver(frameOf(requestJson));
        queue.runDue();
        return connection;
    }

    // An iPad whose sends never complete: its bridge hello stays in flight.
    std::shared_ptr<FakeTcpConnection> connectStalledIPad(const std::string& helloJson) {
        auto connection = iPadListener().connect();
        connection->completeSendsAutomatically = false;
        connection->report(TcpConnection::State::ready);
        connection->deliver(frameOf(helloJson));
        queue.runDue();
        return connection;
    }

    std::shared_ptr<FakeTcpConnection> sendAgentRequest(const TessaroBridgeAgentRequest& request) {
        auto connection = agentListener().connect();
        connection->report(TcpConnection::State::ready);
        connection->deliver(encodeFrame(TessaroBridgeMessage(request)));
        queue.runDue();
        return connection;
    }

    // Set before makeServer: the caps the server is given.
    std::optional<ConnectionLimits> limits;
    ManualExecutor main;
    ManualExecutor queue;
    testing::FakeTcpTransport transport{queue};
    std::shared_ptr<FakeDnsServiceRegistrar::Log> dns =
        std::make_shared<FakeDnsServiceRegistrar::Log>();
    std::shared_ptr<BridgeServer> server;
    std::vector<Report> reports;
    // The identifiers of the commands handed on, in order; each is accepted.
    std::vector<Uuid> handedOn;
    std::shared_ptr<ScriptedCommandIntake> commands = ScriptedCommandIntake::answeringNextTurn(
        queue, [this](const TessaroBridgeCommand& command) {
            handedOn.push_back(command.id);
            return TessaroBridgeAcknowledgement{command.id, TessaroBridgeAckStatus::accepted,
                                                std::nullopt};
        });
};

} // namespace varnello::testing::servertest
