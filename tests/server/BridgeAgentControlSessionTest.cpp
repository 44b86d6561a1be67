#include "server/BridgeAgentControlSession.h"

#include "server/FakeTcpTransport.h"
#include "server/WireHelpers.h"
#include "support/ManualExecutor.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnello {
namespace {

using testing::FakeTcpConnection;
using testing::frameOf;
using testing::framesOf;
using testing::messagesIn;
using testing::uuidOf;

const std::string requestID = "4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A";
const std::string requestJson = testing::agentRequestJson(requestID, "library", "ipad-1");

class ControlSessionTest : public ::testing::Test {
protected:
    ControlSessionTest() {
        connection = std::make_shared<FakeTcpConnection>(queue);
        session = std::make_shared<BridgeAgentControlSession>(
            queue, Uuid::random(), connection,
            [this](const TessaroBridgeAgentRequest& request,
                   BridgeAgentControlSession::ResponseCompletion completion) {
                requests.push_back(request);
                completions.push_back(std::move(completion));
            });
        session->onFinished = [this](const Uuid&) { ++finishedCount; };
        session->start();
        connection->report(TcpConnection::State::ready);
    }

    TessaroBridgeAgentResponse answer() const {
        return {uuidOf(requestID), TessaroBridgeAgentResponseStatus::accepted,
                std::vector<std::uint8_t>{1, 2, 3}, "ok"};
    }

    ManualExecutor queue;
    std::shared_ptr<FakeTcpConnection> connection;
    std::shared_ptr<BridgeAgentControlSession> session;
    std::vector<TessaroBridgeAgentRequest> requests;
    std::vector<BridgeAgentControlSession::ResponseCompletion> completions;
    int finishedCount = 0;
};

TEST_F(ControlSessionTest, ReadsOneRequestThenSendsItsResponseAndCloses) {
    EXPECT_EQ(connection->lastMinimumLength, 1U);
    EXPECT_EQ(connection->lastMaximumLength, 65540U);
    connection->deliver(frameOf(requestJson));
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0],
              (TessaroBridgeAgentRequest{uuidOf(requestID), "ipad-1",
                                         TessaroBridgeAgentOperation::library, std::nullopt}));
    EXPECT_FALSE(connection->hasPendingReceive()) << "no reads while the answer is pending";
    EXPECT_TRUE(connection->sentBytes.empty());

    completions[0](answer());
    EXPECT_EQ(messagesIn(connection->sentBytes),
              std::vector<TessaroBridgeMessage>{TessaroBridgeMessage(answer())});
    EXPECT_EQ(connection->cancelCount, 0);
    queue.runDue();
    EXPECT_EQ(connection->cancelCount, 1);
    EXPECT_EQ(finishedCount, 1);
}

TEST_F(ControlSessionTest, ClosesAfterASendErrorToo) {
    connection->completeSendsAutomatically = false;
    connection->deliver(frameOf(requestJson));
    completions[0](answer());
    connection->completeSend(TransportError(32, "Broken pipe"));
    EXPECT_EQ(connection->cancelCount, 1);
    EXPECT_EQ(finishedCount, 1);
}

struct ViolationCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::size_t requestsHandled;
};

class ControlSessionViolations : public ControlSessionTest,
                                 public ::testing::WithParamInterface<ViolationCase> {};

TEST_P(ControlSessionViolations, CloseWithoutAResponse) {
    connection->deliver(GetParam().bytes);
    queue.runDue();
    EXPECT_EQ(requests.size(), GetParam().requestsHandled);
    EXPECT_EQ(connection->cancelCount, 1);
    EXPECT_EQ(finishedCount, 1);
    for (auto& completion : completions) {
        completion(answer()); // dropped: the session has finished
    }
    queue.runDue();
    EXPECT_TRUE(connection->sentBytes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ControlSessionViolations,
    ::testing::Values(
        ViolationCase{"HelloFirst",
                      framesOf({testing::tessaroHelloJson("ipad-1", R"(["midi"])"), requestJson}),
                      0},
        ViolationCase{"CommandFirst",
                      frameOf(testing::oscCommandJson("8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B")), 0},
        ViolationCase{"SecondRequest", framesOf({requestJson, requestJson}), 1},
        ViolationCase{"MalformedFrame", {0, 0, 0, 0}, 0},
        ViolationCase{"OversizedFrame", {0, 1, 0, 1}, 0}, ViolationCase{"NotJson", frameOf("{"), 0},
        ViolationCase{"EmptyTargetPeerID",
                      frameOf(R"({"type":"agentRequest","body":{"requestID":")" + requestID +
                              R"(","targetPeerID":"","operation":"library"}})"),
                      0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ControlSessionTest, RequestSplitOverManyReadsIsHandledWhenComplete) {
    const auto frame = frameOf(requestJson);
    for (const auto byte : frame) {
        EXPECT_TRUE(requests.empty());
        ASSERT_TRUE(connection->deliver({byte}));
    }
    EXPECT_EQ(requests.size(), 1U);
}

TEST_F(ControlSessionTest, PeerClosingWhileItsRequestIsPendingEndsTheSessionAndDropsTheAnswer) {
    connection->deliver(frameOf(requestJson), true);
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(finishedCount, 1);
    EXPECT_EQ(connection->cancelCount, 1);
    completions[0](answer());
    queue.runDue();
    EXPECT_TRUE(connection->sentBytes.empty());
}

TEST_F(ControlSessionTest, AnswerGivenAtOnceStillGoesOutWhenThePeerClosedItsSide) {
    connection = std::make_shared<FakeTcpConnection>(queue);
    session = std::make_shared<BridgeAgentControlSession>(
        queue, Uuid::random(), connection,
        [this](const TessaroBridgeAgentRequest&,
               BridgeAgentControlSession::ResponseCompletion completion) { completion(answer()); });
    session->onFinished = [this](const Uuid&) { ++finishedCount; };
    session->start();
    connection->report(TcpConnection::State::ready);
    connection->deliver(frameOf(requestJson), true);
    EXPECT_EQ(messagesIn(connection->sentBytes),
              std::vector<TessaroBridgeMessage>{TessaroBridgeMessage(answer())});
    queue.runDue();
    EXPECT_EQ(connection->cancelCount, 1);
    EXPECT_EQ(finishedCount, 1);
}

TEST_F(ControlSessionTest, PeerClosingBeforeAnyRequestFinishes) {
    connection->deliver({}, true);
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(finishedCount, 1);
}

using namespace std::chrono_literals;

// The stage a control session is left in, and when it is closed for it.
struct SilenceCase {
    const char* name;
    bool sendsRequest;
    bool isAnswered;
    std::chrono::milliseconds openUntil;
    std::optional<std::chrono::milliseconds> closedAt;
};

class ControlSessionSilence : public ControlSessionTest,
                              public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(ControlSessionSilence, ClosesOnlyWhereTheAgentKeepsItWaiting) {
    const auto& given = GetParam();
    connection->completeSendsAutomatically = false; // the agent takes no bytes
    if (given.sendsRequest) {
        connection->deliver(frameOf(requestJson));
        ASSERT_EQ(completions.size(), 1U);
    }
    if (given.isAnswered) {
        completions[0](answer());
    }
    queue.advance(given.openUntil);
    EXPECT_EQ(connection->cancelCount, 0);
    EXPECT_EQ(finishedCount, 0);
    if (given.closedAt) {
        queue.advance(*given.closedAt - given.openUntil);
        EXPECT_EQ(connection->cancelCount, 1);
        EXPECT_EQ(finishedCount, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stages, ControlSessionSilence,
    ::testing::Values(
        SilenceCase{"NoRequestIsClosedAfterThirtySeconds", false, false, 29999ms, 30s},
        // The router answers it within 10 seconds; the session waits for that.
        SilenceCase{"RequestAwaitingItsAnswerStays", true, false, 120s, std::nullopt},
        SilenceCase{"ResponseNotTakenIsGivenUpAfterThirtySeconds", true, true, 29999ms, 30s}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
} // namespace varnello
