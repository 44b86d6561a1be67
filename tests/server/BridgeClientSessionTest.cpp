#include "server/BridgeClientSession.h"

#include "server/ClientSessionFixture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace varnello {
namespace {

using namespace testing::clientsession;
using testing::FakeTcpConnection;
using testing::frameOf;
using testing::framesOf;
using testing::messagesIn;
using testing::uuidOf;

TEST_F(ClientSessionTest, SendsTheBridgeHelloBeforeReadingAnything) {
    session->start();
    EXPECT_TRUE(connection->started);
    queue.runDue();
    EXPECT_TRUE(connection->sentBytes.empty());
    EXPECT_EQ(connection->receiveCalls, 0U);

    connection->report(TcpConnection::State::ready);
    const auto sent = messagesIn(connection->sentBytes);
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(sent[0], TessaroBridgeMessage(bridgeHello()));
    const auto* hello = sent[0].bodyIf<TessaroBridgeHello>();
    ASSERT_NE(hello, nullptr);
    EXPECT_EQ(hello->role(), TessaroBridgePeerRole::bridge);
    EXPECT_EQ(hello->protocolVersion(), 1);
    EXPECT_EQ(connection->bytesSentBeforeFirstReceive, connection->sentBytes.size());
    EXPECT_EQ(connection->lastMinimumLength, 1U);
    EXPECT_EQ(connection->lastMaximumLength, 65540U);
}

// The message table: each case is one chunk of frames after the bridge hello.
struct MessageCase {
    const char* name;
    std::vector<std::string> frames;
    std::vector<TessaroBridgeMessage> expectedAnswers;
    bool closes;
    std::size_t commandsExecuted;
    std::size_t agentResponsesPassedOn;
};

class ClientSessionMessageTable : public ClientSessionTest,
                                  public ::testing::WithParamInterface<MessageCase> {};

TEST_P(ClientSessionMessageTable, AnswersAndClosesAsTheTableSays) {
    const auto& given = GetParam();
    startReady();
    connection->deliver(framesOf(given.frames));
    queue.runDue();

    EXPECT_EQ(answers(), given.expectedAnswers);
    EXPECT_EQ(commands.size(), given.commandsExecuted);
    EXPECT_EQ(agentResponses.size(), given.agentResponsesPassedOn);
    if (given.closes) {
        EXPECT_TRUE(isClosed());
    } else {
        EXPECT_TRUE(isOpen());
    }
}

const std::vector<MessageCase> messageCases{
    {"HelloIsAcceptedSilently", {helloJson}, {}, false, 0, 0},
    {"CommandBeforeHelloIsRejectedAndKeepsTheSession",
     {testing::oscCommandJson(commandA)},
     {rejectedBeforeHello(commandA)},
     false,
     0,
     0},
    {"CommandAfterLateHelloIsExecuted",
     {testing::oscCommandJson(commandA), helloJson, testing::oscCommandJson(commandA)},
     {rejectedBeforeHello(commandA), acceptedFor(commandA)},
     false,
     1,
     0},
    {"TwoCommandsInOneSegmentAreAnsweredInOrder",
     {helloJson, testing::oscCommandJson(commandA), testing::oscCommandJson(commandB)},
     {acceptedFor(commandA), acceptedFor(commandB)},
     false,
     2,
     0},
    {"HelloWithBridgeRoleCloses", {bridgeRoleHelloJson}, {}, true, 0, 0},
    {"SecondHelloCloses", {helloJson, helloJson}, {}, true, 0, 0},
    {"HelloWithProtocolVersion2Closes", {version2HelloJson}, {}, true, 0, 0},
    {"AcknowledgementCloses", {helloJson, acknowledgementJson}, {}, true, 0, 0},
    {"AgentRequestCloses", {helloJson, agentRequestJson}, {}, true, 0, 0},
    {"AgentRequestBeforeHelloCloses", {agentRequestJson}, {}, true, 0, 0},
    {"AgentResponseBeforeHelloCloses", {agentResponseJson}, {}, true, 0, 0},
    {"AgentResponseAfterHelloIsPassedOn", {helloJson, agentResponseJson}, {}, false, 0, 1},
    {"NothingAfterAViolationIsHandled",
     {helloJson, testing::oscCommandJson(commandA), helloJson, testing::oscCommandJson(commandB)},
     {acceptedFor(commandA)},
     true,
     1,
     0},
    {"UndecodableJsonCloses", {"not json"}, {}, true, 0, 0},
    {"UnknownMessageTypeCloses",
     {helloJson, R"({"type":"Hello","body":{}})", testing::oscCommandJson(commandA)},
     {},
     true,
     0,
     0},
};

INSTANTIATE_TEST_SUITE_P(Messages, ClientSessionMessageTable, ::testing::ValuesIn(messageCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ClientSessionTest, RecordsTheAcceptedHelloAndPassesAgentResponsesUnchanged) {
    startReady();
    connection->deliver(framesOf({helloJson, agentResponseJson}));
    queue.runDue();
    ASSERT_TRUE(session->tessaroHello().has_value());
    EXPECT_EQ(session->tessaroHello()->peerID(), "ipad-1");
    EXPECT_TRUE(
        session->tessaroHello()->capabilities().contains(TessaroBridgeCapability::agentAPI));
    ASSERT_EQ(agentResponses.size(), 1U);
    EXPECT_EQ(agentResponses[0], (TessaroBridgeAgentResponse{
                                     uuidOf(requestA), TessaroBridgeAgentResponseStatus::accepted,
                                     std::vector<std::uint8_t>{1, 2, 3}, "done"}));
}

TEST_F(ClientSessionTest, ZeroLengthFrameClosesWithoutAnswer) {
    startReady();
    connection->deliver({0, 0, 0, 0});
    queue.runDue();
    EXPECT_TRUE(isClosed());
    EXPECT_TRUE(answers().empty());
}

TEST_F(ClientSessionTest, FrameSplitIntoSingleBytesIsHandledOnItsLastByte) {
    startReady();
    connection->deliver(frameOf(helloJson));
    queue.runDue();
    const auto frame = frameOf(testing::oscCommandJson(commandA));
    for (std::size_t index = 0; index < frame.size(); ++index) {
        EXPECT_TRUE(commands.empty()) << "before byte " << index;
        ASSERT_TRUE(connection->deliver({frame[index]}));
        queue.runDue();
    }
    queue.runDue();
    EXPECT_EQ(commands.size(), 1U);
    EXPECT_EQ(answers(), std::vector<TessaroBridgeMessage>{acceptedFor(commandA)});
    EXPECT_TRUE(isOpen());
}

TEST_F(ClientSessionTest, HalfCloseFinishesAndStillSendsTheAnswersAlreadyDue) {
    connection->completeSendsAutomatically = false;
    startReady();
    connection->deliver(framesOf({helloJson, testing::oscCommandJson(commandA)}), true);
    queue.runDue();

    EXPECT_EQ(finishedCount, 1);
    EXPECT_EQ(connection->cancelCount, 0) << "the acknowledgement is still waiting";
    EXPECT_FALSE(connection->hasPendingReceive());
    ASSERT_TRUE(connection->completeSend()); // the bridge hello
    ASSERT_TRUE(connection->completeSend()); // the acknowledgement
    EXPECT_EQ(answers(), std::vector<TessaroBridgeMessage>{acceptedFor(commandA)});
    EXPECT_EQ(connection->cancelCount, 1);
}

TEST_F(ClientSessionTest, HalfClosedSessionOutlivesItsOwnerUntilItsAnswersAreOut) {
    connection->completeSendsAutomatically = false;
    startReady();
    connection->deliver(framesOf({helloJson, testing::oscCommandJson(commandA)}), true);
    queue.runDue();
    std::weak_ptr<BridgeClientSession> weak = session;
    session.reset(); // as the server's registry does on finish
    ASSERT_FALSE(weak.expired());
    ASSERT_TRUE(connection->completeSend()); // the bridge hello
    ASSERT_TRUE(connection->completeSend()); // the acknowledgement, queued until now
    EXPECT_EQ(answers(), std::vector<TessaroBridgeMessage>{acceptedFor(commandA)});
    EXPECT_EQ(connection->cancelCount, 1);
    EXPECT_TRUE(weak.expired());
}

TEST_F(ClientSessionTest, HalfCloseWithNothingToSendCancelsAtOnce) {
    startReady();
    connection->deliver({}, true);
    queue.runDue();
    EXPECT_EQ(finishedCount, 1);
    EXPECT_EQ(connection->cancelCount, 1);
}

TEST_F(ClientSessionTest, ReceiveErrorOrConnectionFailureFinishesOnce) {
    startReady();
    connection->deliver({}, false, TransportError(104, "Connection reset by peer"));
    queue.runDue();
    connection->report(TcpConnection::State::failed, TransportError(104, "reset"));
    EXPECT_EQ(finishedCount, 1);
}

TEST_F(ClientSessionTest, KeepsOneSendInFlightAndSendsTheRestInOrder) {
    connection->completeSendsAutomatically = false;
    startReady();
    connection->deliver(framesOf(
        {helloJson, testing::oscCommandJson(commandA), testing::oscCommandJson(commandB)}));
    queue.runDue();
    EXPECT_EQ(connection->sendCalls, 1U);
    EXPECT_EQ(messagesIn(connection->sentBytes).size(), 1U);
    connection->completeSend();
    EXPECT_EQ(connection->sendCalls, 2U);
    connection->completeSend();
    EXPECT_EQ(connection->sendCalls, 3U);
    connection->completeSend();
    EXPECT_EQ(answers(),
              (std::vector<TessaroBridgeMessage>{acceptedFor(commandA), acceptedFor(commandB)}));
    EXPECT_TRUE(isOpen());
}

TEST_F(ClientSessionTest, HandlesOneMessagePerTurnOfTheQueue) {
    startReady();
    connection->deliver(framesOf(
        {helloJson, testing::oscCommandJson(commandA), testing::oscCommandJson(commandB)}));
    EXPECT_TRUE(commands.empty()) << "the hello takes the first turn";
    queue.runDue();
    EXPECT_EQ(commands.size(), 2U);
    EXPECT_TRUE(connection->hasPendingReceive());
}

TEST_F(ClientSessionTest, NextMessageWaitsUntilTheCommandOutForExecutionIsAnswered) {
    holdAnswers = true;
    startReady();
    connection->deliver(framesOf({helloJson, testing::oscCommandJson(commandA),
                                  testing::oscCommandJson(commandB), agentResponseJson}));
    queue.runDue();
    ASSERT_EQ(commands.size(), 1U);
    EXPECT_FALSE(connection->hasPendingReceive());
    EXPECT_TRUE(answers().empty());

    heldAnswers.at(0)(acceptedBy(commands[0]));
    queue.runDue();
    EXPECT_EQ(commands.size(), 2U);
    EXPECT_EQ(answers(), std::vector<TessaroBridgeMessage>{acceptedFor(commandA)});
    EXPECT_TRUE(agentResponses.empty()) << "messages keep their order";

    heldAnswers.at(1)(acceptedBy(commands[1]));
    queue.runDue();
    EXPECT_EQ(answers(),
              (std::vector<TessaroBridgeMessage>{acceptedFor(commandA), acceptedFor(commandB)}));
    EXPECT_EQ(agentResponses.size(), 1U);
    EXPECT_TRUE(isOpen());
}

TEST_F(ClientSessionTest, HalfCloseWaitsForTheCommandOutForExecution) {
    holdAnswers = true;
    startReady();
    connection->deliver(framesOf({helloJson, testing::oscCommandJson(commandA)}), true);
    queue.runDue();
    EXPECT_EQ(finishedCount, 0);
    heldAnswers.at(0)(acceptedBy(commands[0]));
    queue.runDue();
    EXPECT_EQ(answers(), std::vector<TessaroBridgeMessage>{acceptedFor(commandA)});
    EXPECT_EQ(finishedCount, 1);
    EXPECT_EQ(connection->cancelCount, 1);
}

TEST_F(ClientSessionTest, AnswerArrivingAfterTheSessionClosedIsDropped) {
    holdAnswers = true;
    startReady();
    connection->deliver(framesOf({helloJson, testing::oscCommandJson(commandA)}));
    queue.runDue();
    session->close();
    const auto sentBefore = connection->sentBytes;
    heldAnswers.at(0)(acceptedBy(commands[0]));
    session.reset();
    queue.runDue();
    EXPECT_EQ(connection->sentBytes, sentBefore);
    EXPECT_EQ(finishedCount, 1);
}

TEST_F(ClientSessionTest, StopsReadingWhileAnswersPileUpAndResumesOnceTheyGoOut) {
    connection->completeSendsAutomatically = false;
    startReady();
    std::vector<std::string> frames{helloJson};
    for (int index = 0; index < 1000; ++index) {
        frames.push_back(testing::oscCommandJson(Uuid::random().text()));
    }
    connection->deliver(framesOf(frames));
    queue.runDue();
    ASSERT_EQ(commands.size(), 1000U);
    EXPECT_FALSE(connection->hasPendingReceive()) << "a peer that does not read is not read";
    std::size_t sends = 0;
    while (!connection->hasPendingReceive() && connection->completeSend()) {
        ++sends;
    }
    EXPECT_TRUE(connection->hasPendingReceive());
    EXPECT_GT(sends, 1U);
    EXPECT_LT(sends, 1001U) << "reading resumes before every answer is out";
    EXPECT_TRUE(isOpen());
}

TEST_F(ClientSessionTest, SendErrorClosesAndRunsEveryFailureActionOnce) {
    connection->completeSendsAutomatically = false;
    startReady();
    connection->completeSend(); // the bridge hello
    std::vector<std::string> failures;
    const TessaroBridgeMessage request{TessaroBridgeAgentRequest{
        uuidOf(requestA), std::nullopt, TessaroBridgeAgentOperation::library, std::nullopt}};
    session->sendMessage(request, [&] { failures.push_back("first"); });
    session->sendMessage(request, [&] { failures.push_back("second"); });
    ASSERT_EQ(failures.size(), 0U);

    connection->completeSend(TransportError(32, "Broken pipe"));
    queue.runDue();
    EXPECT_TRUE(isClosed());
    EXPECT_EQ(failures.size(), 2U);
    EXPECT_EQ(std::count(failures.begin(), failures.end(), "first"), 1);
    EXPECT_EQ(std::count(failures.begin(), failures.end(), "second"), 1);

    session->sendMessage(request, [&] { failures.push_back("after"); });
    EXPECT_EQ(failures.back(), "after");
    EXPECT_EQ(connection->sendCalls, 2U);
}

TEST_F(ClientSessionTest, MessageThatCannotBeFramedClosesAndRunsItsFailureAction) {
    startReady();
    bool failed = false;
    const TessaroBridgeCommand invalid{uuidOf(commandA), TessaroBridgePayload::midi({})};
    session->sendMessage(invalid, [&] { failed = true; });
    EXPECT_TRUE(failed);
    queue.runDue();
    EXPECT_TRUE(isClosed());
}

TEST_F(ClientSessionTest, CancelledConnectionFinishesTheSession) {
    startReady();
    connection->report(TcpConnection::State::cancelled);
    EXPECT_EQ(finishedCount, 1);
    session->close();
    EXPECT_EQ(finishedCount, 1);
}

} // namespace
} // namespace varnello
