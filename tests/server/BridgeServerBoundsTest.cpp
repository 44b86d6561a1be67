// The server's bounds: the caps on both listeners, the oldest silent iPad
// giving way, silent connections closed, and relayed requests answered at once
// when the iPad cannot take them.

#include "server/BridgeServer.h"
#include "server/ServerFixture.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace varnello {
namespace {

using namespace testing::servertest;
using testing::FakeDnsServiceRegistrar;
using testing::FakeTcpConnection;
using testing::FakeTcpListener;
using testing::frameOf;
using testing::messagesIn;
using testing::uuidOf;

using namespace std::chrono_literals;

TessaroBridgeAgentResponse couldNotSend(const Uuid& id) {
    return {id, TessaroBridgeAgentResponseStatus::unavailable, std::nullopt,
            "Could not send the Agent API command to Varnello."};
}

// Each listener's cap: a connection beyond it is accepted and closed at once,
// and once a held one ends there is room again.
struct CapCase {
    const char* name;
    std::size_t listener; // 0: iPads, 1: the Agent API
};

class ConnectionCaps : public ServerTest, public ::testing::WithParamInterface<CapCase> {};

TEST_P(ConnectionCaps, ConnectionBeyondTheCapIsClosedAtOnce) {
    limits = ConnectionLimits{2, 2};
    startReady();
    auto& listener = *transport.listeners.at(GetParam().listener);
    const auto hold = [&] {
        auto connection = listener.connect();
        connection->report(TcpConnection::State::ready);
        if (GetParam().listener == 0) {
            connection->deliver(frameOf(testing::tessaroHelloJson("ipad", R"(["midi"])")));
        }
        queue.runDue();
        return connection;
    };
    auto first = hold();
    auto second = hold();
    const auto reportsBefore = reports.size();

    auto beyond = listener.connect();
    EXPECT_EQ(beyond->cancelCount, 1);
    EXPECT_FALSE(beyond->started);
    EXPECT_EQ(reports.size(), reportsBefore) << "never counted as a client";
    EXPECT_EQ(first->cancelCount, 0);
    EXPECT_EQ(second->cancelCount, 0);

    first->deliver({}, true); // it leaves
    queue.runDue();
    auto next = hold();
    EXPECT_EQ(next->cancelCount, 0);
    EXPECT_TRUE(next->started);
}

INSTANTIATE_TEST_SUITE_P(Listeners, ConnectionCaps,
                         ::testing::Values(CapCase{"IPads", 0}, CapCase{"AgentAPI", 1}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ServerTest, AtTheCapTheOldestConnectionWithoutAHelloGivesWay) {
    limits = ConnectionLimits{3, 64};
    startReady();
    auto silentFirst = connectIPad("");
    auto iPad = connectIPad(testing::tessaroHelloJson("ipad-1", R"(["midi"])"));
    auto silentSecond = connectIPad("");
    reports.clear();

    auto newcomer = connectIPad(testing::tessaroHelloJson("ipad-2", R"(["midi"])"));
    EXPECT_EQ(silentFirst->cancelCount, 1);
    EXPECT_EQ(silentSecond->cancelCount, 0);
    EXPECT_EQ(messagesIn(newcomer->sentBytes).size(), 1U) << "served: it got the bridge hello";
    const auto ready = BridgeServerState::ready(40123);
    EXPECT_EQ(reports, (std::vector<Report>{{ready, 2}, {ready, 3}}));

    auto another = connectIPad(testing::tessaroHelloJson("ipad-3", R"(["midi"])"));
    EXPECT_EQ(silentSecond->cancelCount, 1);
    EXPECT_EQ(another->cancelCount, 0);

    // Every held connection has said hello: the newcomer is the one closed.
    auto refused = connectIPad("");
    EXPECT_EQ(refused->cancelCount, 1);
    EXPECT_FALSE(refused->started);
    EXPECT_EQ(iPad->cancelCount + newcomer->cancelCount + another->cancelCount, 0);
    EXPECT_EQ(server->clientCount(), 3);
}

TEST_F(ServerTest, FinishedSessionStillSendingItsLastAnswersCountsTowardTheCap) {
    limits = ConnectionLimits{1, 64};
    startReady();
    auto leaving = iPadListener().connect();
    leaving->completeSendsAutomatically = false;
    leaving->report(TcpConnection::State::ready);
    leaving->deliver(frameOf(testing::tessaroHelloJson("ipad-1", R"(["midi"])")));
    queue.runDue();
    leaving->deliver(frameOf(testing::oscCommandJson(requestID)), true);
    queue.runDue();
    ASSERT_EQ(server->clientCount(), 0) << "finished";
    ASSERT_EQ(leaving->cancelCount, 0) << "still sending";

    auto refused = connectIPad(testing::tessaroHelloJson("ipad-2", R"(["midi"])"));
    EXPECT_EQ(refused->cancelCount, 1);

    while (leaving->completeSend()) {
    }
    queue.runDue();
    EXPECT_EQ(leaving->cancelCount, 1);
    auto admitted = connectIPad(testing::tessaroHelloJson("ipad-2", R"(["midi"])"));
    EXPECT_EQ(admitted->cancelCount, 0);
    EXPECT_EQ(server->clientCount(), 1);
}

TEST_F(ServerTest, SilentIPadAndIdleAgentAreClosedAfterThirtySecondsAndTheCountFollows) {
    startReady();
    auto silent = connectIPad("");
    auto iPad = connectIPad(testing::tessaroHelloJson("ipad-1", R"(["midi"])"));
    auto idleAgent = agentListener().connect();
    idleAgent->report(TcpConnection::State::ready);
    reports.clear();

    queue.advance(29999ms);
    EXPECT_TRUE(reports.empty());
    queue.advance(1ms);
    EXPECT_EQ(silent->cancelCount, 1);
    EXPECT_EQ(idleAgent->cancelCount, 1);
    EXPECT_EQ(iPad->cancelCount, 0);
    EXPECT_EQ(reports, (std::vector<Report>{{BridgeServerState::ready(40123), 1}}));
}

// Regression: requests waiting behind a send in flight were dropped when the
// iPad's connection failed, and their agents got the 10-second time-out.
TEST_F(ServerTest, RequestsWaitingOnAnIPadWhoseConnectionFailsAreAnsweredAtOnce) {
    startReady();
    auto iPad = connectStalledIPad(testing::tessaroHelloJson("ipad-1", R"(["agentAPI"])"));
    std::vector<Uuid> ids;
    std::vector<std::shared_ptr<FakeTcpConnection>> agents;
    for (int index = 0; index < 3; ++index) {
        ids.push_back(Uuid::random());
        agents.push_back(sendAgentRequest(TessaroBridgeAgentRequest{
            ids.back(), std::nullopt, TessaroBridgeAgentOperation::library, std::nullopt}));
        ASSERT_TRUE(agents.back()->sentBytes.empty());
    }

    iPad->report(TcpConnection::State::failed, TransportError(104, "Connection reset by peer"));
    queue.runDue();
    EXPECT_EQ(queue.now(), 0ms);
    for (std::size_t index = 0; index < agents.size(); ++index) {
        EXPECT_EQ(messagesIn(agents[index]->sentBytes),
                  std::vector<TessaroBridgeMessage>{couldNotSend(ids[index])});
    }
    EXPECT_EQ(server->clientCount(), 0);
}

TEST_F(ServerTest, RequestBeyondTheIPadsQueuedSendBoundIsAnsweredAtOnceAndTheIPadStays) {
    startReady();
    auto iPad = connectStalledIPad(testing::tessaroHelloJson("ipad-1", R"(["agentAPI"])"));
    // About 27 kB framed each: two wait behind the hello, the third would not fit.
    std::vector<Uuid> ids;
    std::vector<std::shared_ptr<FakeTcpConnection>> agents;
    for (int index = 0; index < 3; ++index) {
        ids.push_back(Uuid::random());
        agents.push_back(sendAgentRequest(TessaroBridgeAgentRequest{
            ids.back(), std::nullopt, TessaroBridgeAgentOperation::execute,
            std::vector<std::uint8_t>(20000, 0x41)}));
    }
    EXPECT_TRUE(agents[0]->sentBytes.empty());
    EXPECT_TRUE(agents[1]->sentBytes.empty());
    EXPECT_EQ(messagesIn(agents[2]->sentBytes),
              std::vector<TessaroBridgeMessage>{couldNotSend(ids[2])});
    EXPECT_EQ(iPad->cancelCount, 0);
    EXPECT_EQ(server->clientCount(), 1);

    // Once the iPad reads again the two waiting go out and are answered by it.
    while (iPad->completeSend()) {
    }
    queue.runDue();
    EXPECT_EQ(messagesIn(iPad->sentBytes).size(), 3U);
}

} // namespace
} // namespace varnello
