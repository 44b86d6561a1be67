#include "server/BridgeServer.h"

#include "protocol/TessaroBridgeAgentDevice.h"
#include "server/BonjourAdvertisement.h"
#include "server/ServerFixture.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <utility>
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

TEST_F(ServerTest, StartCreatesBothListenersAndStartsThemOnTheQueue) {
    makeServer();
    server->start();
    ASSERT_EQ(transport.parameters.size(), 2U);
    EXPECT_EQ(
        transport.parameters[0],
        (TcpListenerParameters{TcpKeepalive{std::chrono::seconds(30), std::chrono::seconds(10), 3},
                               true, std::nullopt}));
    EXPECT_EQ(transport.parameters[1],
              (TcpListenerParameters{std::nullopt, true, TcpEndpoint{"127.0.0.1", 54884}}));
    EXPECT_EQ(reports, (std::vector<Report>{{BridgeServerState::starting(), 0}}));
    EXPECT_FALSE(iPadListener().started);
    EXPECT_FALSE(agentListener().started);
    queue.runDue();
    EXPECT_TRUE(iPadListener().started);
    EXPECT_TRUE(agentListener().started);

    server->start();
    EXPECT_EQ(transport.parameters.size(), 2U) << "a second start does nothing";
    EXPECT_EQ(reports.size(), 1U);
}

TEST_F(ServerTest, AFixedIPadPortGoesToTheIPadListenerOnly) {
    makeServer();
    server->start(61885);
    ASSERT_EQ(transport.parameters.size(), 2U);
    EXPECT_EQ(
        transport.parameters[0],
        (TcpListenerParameters{TcpKeepalive{std::chrono::seconds(30), std::chrono::seconds(10), 3},
                               true, std::nullopt, 61885}));
    EXPECT_EQ(transport.parameters[1],
              (TcpListenerParameters{std::nullopt, true, TcpEndpoint{"127.0.0.1", 54884}}));
}

// The creation that fails: 0 for the iPad listener, 1 for the agent's.
class ListenerCreationFailure : public ServerTest,
                                public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ListenerCreationFailure, FailsStartAndStartsNothing) {
    transport.failingCreation = GetParam();
    makeServer();
    EXPECT_THROW(server->start(), TransportError);
    queue.runDue();
    EXPECT_EQ(transport.parameters.size(), GetParam() + 1);
    for (const auto& listener : transport.listeners) {
        EXPECT_FALSE(listener->started);
    }
    EXPECT_TRUE(reports.empty());
}

INSTANTIATE_TEST_SUITE_P(Creations, ListenerCreationFailure, ::testing::Values(0U, 1U));

struct ListenerStateCase {
    const char* name;
    TcpListener::State state;
    std::optional<TransportError> error;
    BridgeServerState expected;
    bool withdrawn;
    int listenerCancels;
};

class ListenerStateTable : public ServerTest,
                           public ::testing::WithParamInterface<ListenerStateCase> {};

// Each case starts from a published, ready listener.
TEST_P(ListenerStateTable, MapsTheReportOntoTheServerState) {
    const auto& given = GetParam();
    startReady();
    ASSERT_EQ(dns->calls, std::vector<std::string>{"publish"});
    iPadListener().report(given.state, given.error);
    queue.runDue();
    main.runDue();
    EXPECT_EQ(reports.back(), Report(given.expected, 0));
    EXPECT_EQ(dns->withdrawals, given.withdrawn ? 1 : 0);
    EXPECT_EQ(iPadListener().cancelCount, given.listenerCancels);
}

INSTANTIATE_TEST_SUITE_P(
    States, ListenerStateTable,
    ::testing::Values(ListenerStateCase{"Setup", TcpListener::State::setup, std::nullopt,
                                        BridgeServerState::starting(), false, 0},
                      ListenerStateCase{"Waiting", TcpListener::State::waiting,
                                        TransportError(100, "Network is down"),
                                        BridgeServerState::waiting("Network is down"), false, 0},
                      // Regression: the cancellation that follows a failure turned the
                      // state into stopped and hid the error from the user.
                      ListenerStateCase{"FailedStaysFailed", TcpListener::State::failed,
                                        TransportError(98, "Address already in use"),
                                        BridgeServerState::failed("Address already in use"), true,
                                        1},
                      ListenerStateCase{"Cancelled", TcpListener::State::cancelled, std::nullopt,
                                        BridgeServerState::stopped(), true, 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ServerTest, ReadyPublishesOnTheMainThreadWithTheSystemChosenPort) {
    makeServer();
    server->start();
    queue.runDue();
    iPadListener().boundPort = 51234;
    iPadListener().report(TcpListener::State::ready);
    EXPECT_EQ(reports.back(), Report(BridgeServerState::ready(51234), 0));
    EXPECT_EQ(reports.back().first.statusText(), "Beschikbaar via wifi (TCP 51234)");
    EXPECT_TRUE(dns->published.empty()) << "only from the main thread";
    main.runDue();
    ASSERT_EQ(dns->published.size(), 1U);
    EXPECT_EQ(dns->published[0],
              (DnsServiceAdvertisement{bonjourServiceName(studio.displayName, studio.id),
                                       "_tessaro._tcp.", 51234,
                                       bonjourTxtRecord(studio.displayName, studio.id)}));
}

TEST_F(ServerTest, ReportsTheClientCountAsIPadsComeAndGo) {
    startReady();
    reports.clear();
    auto first = connectIPad(testing::tessaroHelloJson("ipad-1", R"(["midi"])"));
    auto silent = connectIPad("");
    auto agentConnection = agentListener().connect();
    agentConnection->report(TcpConnection::State::ready);
    first->deliver({}, true);
    queue.runDue();
    const auto ready = BridgeServerState::ready(40123);
    EXPECT_EQ(reports, (std::vector<Report>{{ready, 1}, {ready, 2}, {ready, 1}}));
    EXPECT_EQ(server->clientCount(), 1);
}

TEST_F(ServerTest, IPadGetsTheBridgeHelloAndItsCommandsAnswered) {
    startReady();
    auto iPad = connectIPad(testing::tessaroHelloJson("ipad-1", R"(["midi"])"));
    iPad->deliver(frameOf(testing::oscCommandJson(requestID)));
    queue.runDue();
    const auto sent = messagesIn(iPad->sentBytes);
    ASSERT_EQ(sent.size(), 2U);
    EXPECT_EQ(sent[0], TessaroBridgeMessage(TessaroBridgeHello::make(
                           TessaroBridgePeerRole::bridge, 1, studio.id, studio.displayName,
                           {TessaroBridgeCapability::midi, TessaroBridgeCapability::osc})));
    EXPECT_EQ(sent[1], TessaroBridgeMessage(TessaroBridgeAcknowledgement{
                           uuidOf(requestID), TessaroBridgeAckStatus::accepted, std::nullopt}));
    EXPECT_EQ(handedOn.size(), 1U);
}

TEST_F(ServerTest, CommandsOfSeveralIPadsAreHandedOnInArrivalOrder) {
    startReady();
    std::vector<std::shared_ptr<FakeTcpConnection>> iPads;
    std::vector<std::string> ids;
    for (int i = 0; i < 3; ++i) {
        iPads.push_back(
            connectIPad(testing::tessaroHelloJson("ipad-" + std::to_string(i), R"(["osc"])")));
        ids.push_back(Uuid::random().text());
    }
    for (int i = 0; i < 3; ++i) {
        iPads[i]->deliver(frameOf(testing::oscCommandJson(ids[i])));
    }
    queue.runDue();
    EXPECT_EQ(handedOn, (std::vector<Uuid>{uuidOf(ids[0]), uuidOf(ids[1]), uuidOf(ids[2])}));
    for (int i = 0; i < 3; ++i) {
        const auto sent = messagesIn(iPads[i]->sentBytes);
        ASSERT_EQ(sent.size(), 2U);
        EXPECT_EQ(sent[1], TessaroBridgeMessage(TessaroBridgeAcknowledgement{
                               uuidOf(ids[i]), TessaroBridgeAckStatus::accepted, std::nullopt}));
    }
}

TEST_F(ServerTest, CommandsAreAnsweredUnavailableOnceWhatExecutesThemIsGone) {
    startReady();
    auto iPad = connectIPad(testing::tessaroHelloJson("ipad-1", R"(["osc"])"));
    commands.reset();
    iPad->deliver(frameOf(testing::oscCommandJson(requestID)));
    queue.runDue();
    const auto sent = messagesIn(iPad->sentBytes);
    ASSERT_EQ(sent.size(), 2U);
    EXPECT_EQ(sent[1], TessaroBridgeMessage(TessaroBridgeAcknowledgement{
                           uuidOf(requestID), TessaroBridgeAckStatus::rejected,
                           "The Bridge is no longer available."}));
    EXPECT_TRUE(handedOn.empty());
    EXPECT_EQ(iPad->cancelCount, 0) << "the connection stays open";
}

TEST_F(ServerTest, ConnectionIsRefusedWhenTheBridgeHelloCannotBeBuilt) {
    makeServer(BridgeIdentity{std::string(64, 'c'), ""});
    server->start();
    queue.runDue();
    reports.clear();
    auto connection = iPadListener().connect();
    EXPECT_EQ(connection->cancelCount, 1);
    EXPECT_FALSE(connection->started);
    EXPECT_TRUE(reports.empty());
}

TEST_F(ServerTest, TakenAgentPortOnlyCostsTheAgentAPI) {
    startReady();
    agentListener().report(TcpListener::State::failed, TransportError(98, "Address in use"));
    EXPECT_EQ(agentListener().cancelCount, 0);
    EXPECT_EQ(reports.back(), Report(BridgeServerState::ready(40123), 0));

    auto iPad = connectIPad(testing::tessaroHelloJson("ipad-1", R"(["midi"])"));
    EXPECT_EQ(server->clientCount(), 1);
    EXPECT_FALSE(iPad->sentBytes.empty());
    auto lateAgent = agentListener().connect();
    EXPECT_EQ(lateAgent->cancelCount, 1);
}

TEST_F(ServerTest, RelaysAnAgentRequestToTheIPadAndItsAnswerBack) {
    startReady();
    auto iPad = connectIPad(testing::tessaroHelloJson("ipad-1", R"(["agentAPI"])"));
    auto agent = sendAgentRequest(testing::agentRequestJson(requestID, "capabilities"));
    const auto forwarded = messagesIn(iPad->sentBytes);
    ASSERT_EQ(forwarded.size(), 2U);
    EXPECT_EQ(forwarded[1], TessaroBridgeMessage(TessaroBridgeAgentRequest{
                                uuidOf(requestID), std::nullopt,
                                TessaroBridgeAgentOperation::capabilities, std::nullopt}));
    EXPECT_TRUE(agent->sentBytes.empty());

    iPad->deliver(frameOf(testing::agentResponseJson(requestID, "rejected")));
    queue.runDue();
    EXPECT_EQ(messagesIn(agent->sentBytes),
              (std::vector<TessaroBridgeMessage>{TessaroBridgeAgentResponse{
                  uuidOf(requestID), TessaroBridgeAgentResponseStatus::rejected,
                  std::vector<std::uint8_t>{1, 2, 3}, "done"}}));
    EXPECT_EQ(agent->cancelCount, 1);
    EXPECT_EQ(iPad->cancelCount, 0);
}

TEST_F(ServerTest, DevicesAreListedWithoutCountingTheAgentAsAClient) {
    startReady();
    connectIPad(testing::tessaroHelloJson("ipad-1", R"(["midi","agentAPI"])"));
    auto agent = sendAgentRequest(testing::agentRequestJson(requestID, "devices"));
    const auto sent = messagesIn(agent->sentBytes);
    ASSERT_EQ(sent.size(), 1U);
    const auto* response = sent[0].bodyIf<TessaroBridgeAgentResponse>();
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->status, TessaroBridgeAgentResponseStatus::accepted);
    ASSERT_TRUE(response->payload.has_value());
    EXPECT_EQ(TessaroBridgeAgentDevice::decodeList(*response->payload),
              (std::vector<TessaroBridgeAgentDevice>{
                  {"ipad-1",
                   "iPad ipad-1",
                   {TessaroBridgeCapability::midi, TessaroBridgeCapability::agentAPI}}}));
    EXPECT_EQ(reports.back().second, 1);
}

TEST_F(ServerTest, StopAnswersPendingRequestsBeforeClosingAndEndsStoppedWithNoClients) {
    startReady();
    auto iPad = connectIPad(testing::tessaroHelloJson("ipad-1", R"(["agentAPI"])"));
    auto agent = sendAgentRequest(testing::agentRequestJson(requestID, "library"));
    auto idleAgent = agentListener().connect();
    idleAgent->report(TcpConnection::State::ready);
    ASSERT_TRUE(agent->sentBytes.empty());
    reports.clear();

    server->stop();
    EXPECT_TRUE(reports.empty()) << "stop returns at once";
    queue.runDue();
    main.runDue();

    EXPECT_EQ(messagesIn(agent->sentBytes),
              (std::vector<TessaroBridgeMessage>{TessaroBridgeAgentResponse{
                  uuidOf(requestID), TessaroBridgeAgentResponseStatus::unavailable, std::nullopt,
                  "Varnello Bridge is stopping."}}));
    EXPECT_EQ(agent->cancelCount, 1);
    EXPECT_EQ(idleAgent->cancelCount, 1);
    EXPECT_EQ(iPad->cancelCount, 1);
    EXPECT_EQ(iPadListener().cancelCount, 1);
    EXPECT_EQ(agentListener().cancelCount, 1);
    EXPECT_EQ(dns->calls, (std::vector<std::string>{"publish", "withdraw"}));
    const auto ready = BridgeServerState::ready(40123);
    EXPECT_EQ(reports, (std::vector<Report>{{ready, 0}, {BridgeServerState::stopped(), 0}}));

    queue.advance(std::chrono::seconds(10)); // the request's timer finds nothing
    EXPECT_EQ(messagesIn(agent->sentBytes).size(), 1U);
    EXPECT_EQ(reports.back(), Report(BridgeServerState::stopped(), 0));
}

TEST_F(ServerTest, ReleasingTheServerClosesEverythingAndWithdraws) {
    startReady();
    auto iPad = connectIPad(testing::tessaroHelloJson("ipad-1", R"(["midi"])"));
    auto& listener = iPadListener();
    server.reset();
    queue.runDue();
    main.runDue();
    EXPECT_EQ(iPad->cancelCount, 1);
    EXPECT_EQ(listener.cancelCount, 1);
    EXPECT_EQ(dns->calls, (std::vector<std::string>{"publish", "withdraw"}));
}

} // namespace
} // namespace varnello
