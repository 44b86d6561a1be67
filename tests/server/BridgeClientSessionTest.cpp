#include "server/BridgeClientSession.h"

#include "server/CommandHandlers.h"
#include "server/FakeTcpTransport.h"
#include "server/WireHelpers.h"
#include "support/ManualExecutor.h"

#include <algorithm>
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

const std::string commandA = "8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B";
const std::string commandB = "11111111-2222-4333-8444-555555555555";
const std::string requestA = "4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A";

const std::string helloJson = testing::tessaroHelloJson("ipad-1", R"(["midi","agentAPI"])");
const std::string bridgeRoleHelloJson =
    testing::tessaroHelloJson("ipad-1", R"(["midi"])", "bridge");
const std::string version2HelloJson =
    R"({"type":"hello","body":{"role":"tessaro","protocolVersion":2,"peerID":"p","displayName":"d","capabilities":["midi"]}})";
const std::string acknowledgementJson =
    R"({"type":"acknowledgement","body":{"commandID":")" + commandA + R"(","status":"accepted"}})";
const std::string agentRequestJson = testing::agentRequestJson(requestA, "capabilities");
const std::string agentResponseJson = testing::agentResponseJson(requestA, "accepted");

TessaroBridgeAcknowledgement acceptedBy(const TessaroBridgeCommand& command) {
    return {command.id, TessaroBridgeAckStatus::accepted, "ran " + *command.payload.oscAddress()};
}

TessaroBridgeAcknowledgement rejectedBeforeHello(const std::string& id) {
    return {uuidOf(id), TessaroBridgeAckStatus::rejected, "Send a valid Varnello hello first."};
}

TessaroBridgeMessage relayedRequest(std::size_t payloadBytes = 0) {
    return TessaroBridgeAgentRequest{
        Uuid::random(), std::nullopt, TessaroBridgeAgentOperation::execute,
        payloadBytes == 0 ? std::nullopt
                          : std::optional(std::vector<std::uint8_t>(payloadBytes, 0x5A))};
}

TessaroBridgeAcknowledgement acceptedFor(const std::string& id) {
    return {uuidOf(id), TessaroBridgeAckStatus::accepted, "ran /cue/1/go"};
}

class ClientSessionTest : public ::testing::Test {
protected:
    ClientSessionTest() {
        connection = std::make_shared<FakeTcpConnection>(queue);
        session = std::make_shared<BridgeClientSession>(
            queue, Uuid::random(), connection, bridgeHello(),
            [this](const TessaroBridgeCommand& command, Completion completion) {
                commands.push_back(command);
                if (holdAnswers) {
                    heldAnswers.push_back(std::move(completion));
                } else {
                    answerNextTurn(command, std::move(completion));
                }
            });
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
    BridgeCommandSubmitter answerNextTurn = testing::answeringNextTurn(queue, acceptedBy);
    // Commands then wait, as they do for a batch, until a test answers them.
    bool holdAnswers = false;
    std::vector<Completion> heldAnswers;
    std::shared_ptr<FakeTcpConnection> connection;
    std::shared_ptr<BridgeClientSession> session;
    std::vector<TessaroBridgeCommand> commands;
    std::vector<TessaroBridgeAgentResponse> agentResponses;
    int finishedCount = 0;
};

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

using namespace std::chrono_literals;

// Time-outs: each case runs a session for `openUntil` and expects it open, then
// (when closedAt is given) up to closedAt and expects it closed.
struct TimeoutCase {
    const char* name;
    bool saysHello;
    bool peerTakesSends;
    // The peer takes one send this often (when it does not take them all).
    std::optional<std::chrono::milliseconds> takesOneSendEvery;
    std::chrono::milliseconds openUntil;
    std::optional<std::chrono::milliseconds> closedAt;
};

class ClientSessionTimeouts : public ClientSessionTest,
                              public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(ClientSessionTimeouts, ClosesSilentAndStalledPeersOnly) {
    const auto& given = GetParam();
    connection->completeSendsAutomatically = given.peerTakesSends;
    startReady();
    // Ten commands: answered, or (before a hello) rejected, which is no hello.
    std::vector<std::string> frames;
    if (given.saysHello) {
        frames.push_back(helloJson);
    }
    for (int index = 0; index < 10; ++index) {
        frames.push_back(testing::oscCommandJson(Uuid::random().text()));
    }
    connection->deliver(framesOf(frames));
    queue.runDue();

    std::chrono::milliseconds elapsed{0};
    const auto runUntil = [&](std::chrono::milliseconds until) {
        while (given.takesOneSendEvery && elapsed + *given.takesOneSendEvery <= until) {
            queue.advance(*given.takesOneSendEvery);
            elapsed += *given.takesOneSendEvery;
            connection->completeSend();
        }
        queue.advance(until - elapsed);
        elapsed = until;
    };
    runUntil(given.openUntil);
    EXPECT_TRUE(isOpen()) << "at " << given.openUntil.count() << " ms";
    if (given.closedAt) {
        runUntil(*given.closedAt);
        EXPECT_TRUE(isClosed()) << "at " << given.closedAt->count() << " ms";
    }
}

INSTANTIATE_TEST_SUITE_P(Timeouts, ClientSessionTimeouts,
                         ::testing::Values(TimeoutCase{"SilentPeerIsClosedAfterThirtySeconds",
                                                       false, true, std::nullopt, 29999ms, 30s},
                                           TimeoutCase{"IPadThatSaidHelloStays", true, true,
                                                       std::nullopt, 120s, std::nullopt},
                                           TimeoutCase{
                                               "PeerThatTakesNothingIsClosedAfterThirtySeconds",
                                               true, false, std::nullopt, 29999ms, 30s},
                                           TimeoutCase{"SlowReaderThatTakesSomethingStays", true,
                                                       false, 15s, 150s, std::nullopt}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ClientSessionTest, HalfClosedPeerThatTakesNothingIsLetGoAfterThirtySeconds) {
    connection->completeSendsAutomatically = false;
    startReady();
    connection->deliver(framesOf({helloJson, testing::oscCommandJson(commandA)}), true);
    queue.runDue();
    std::weak_ptr<BridgeClientSession> weak = session;
    session.reset(); // as the registry does on finish
    queue.advance(29999ms);
    ASSERT_FALSE(weak.expired());
    EXPECT_EQ(connection->cancelCount, 0);
    queue.advance(1ms);
    EXPECT_EQ(connection->cancelCount, 1);
    queue.runDue();
    EXPECT_TRUE(weak.expired());
}

// However a session ends, every relayed message still waiting on it fails at
// once. Regression: when the connection failed they were dropped without a word.
struct EndingCase {
    const char* name;
    void (*end)(FakeTcpConnection& connection, BridgeClientSession& session, ManualExecutor& queue);
};

class ClientSessionEndings : public ClientSessionTest,
                             public ::testing::WithParamInterface<EndingCase> {};

TEST_P(ClientSessionEndings, FailEveryRelayedMessageStillWaiting) {
    connection->completeSendsAutomatically = false;
    startReady(); // the bridge hello stays in flight
    connection->deliver(frameOf(helloJson));
    queue.runDue();
    std::vector<int> failures;
    for (int index = 0; index < 3; ++index) {
        session->sendMessage(relayedRequest(), [&failures, index] { failures.push_back(index); });
    }
    ASSERT_TRUE(failures.empty());

    GetParam().end(*connection, *session, queue);
    queue.runDue();
    std::sort(failures.begin(), failures.end());
    EXPECT_EQ(failures, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(finishedCount, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, ClientSessionEndings,
    ::testing::Values(
        EndingCase{"Closed", [](FakeTcpConnection&, BridgeClientSession& session,
                                ManualExecutor&) { session.close(); }},
        EndingCase{"ConnectionFailed",
                   [](FakeTcpConnection& connection, BridgeClientSession&, ManualExecutor&) {
                       connection.report(TcpConnection::State::failed,
                                         TransportError(104, "Connection reset by peer"));
                   }},
        EndingCase{"ConnectionCancelled",
                   [](FakeTcpConnection& connection, BridgeClientSession&, ManualExecutor&) {
                       connection.report(TcpConnection::State::cancelled);
                   }},
        EndingCase{"SecondHello", [](FakeTcpConnection& connection, BridgeClientSession&,
                                     ManualExecutor&) { connection.deliver(frameOf(helloJson)); }},
        EndingCase{"ReceiveError",
                   [](FakeTcpConnection& connection, BridgeClientSession&, ManualExecutor&) {
                       connection.deliver({}, false, TransportError(104, "reset"));
                   }},
        EndingCase{"PeerTakesNothing",
                   [](FakeTcpConnection&, BridgeClientSession&, ManualExecutor& queue) {
                       queue.advance(BridgeClientSession::sendStallTimeout);
                   }}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ClientSessionTest, RelayedMessageBeyondTheQueuedSendBoundFailsAtOnceAndTheSessionStays) {
    connection->completeSendsAutomatically = false;
    startReady(); // the bridge hello stays in flight
    connection->deliver(frameOf(helloJson));
    queue.runDue();
    // About 27 kB framed each: two fit behind the hello, a third does not.
    std::vector<int> failures;
    for (int index = 0; index < 3; ++index) {
        session->sendMessage(relayedRequest(20000),
                             [&failures, index] { failures.push_back(index); });
    }
    EXPECT_EQ(failures, std::vector<int>{2}) << "refused within the call";
    EXPECT_TRUE(isOpen());

    ASSERT_TRUE(connection->completeSend()); // the hello: the first goes out, one waits
    session->sendMessage(relayedRequest(20000), [&failures] { failures.push_back(3); });
    EXPECT_EQ(failures, std::vector<int>{2});
    while (connection->completeSend()) {
    }
    EXPECT_EQ(messagesIn(connection->sentBytes).size(), 4U);
    EXPECT_EQ(failures, std::vector<int>{2});
}

TEST_F(ClientSessionTest, AnswersPilingUpLeaveNoRoomForRelayedMessages) {
    connection->completeSendsAutomatically = false;
    startReady();
    std::vector<std::string> frames{helloJson};
    for (int index = 0; index < 1000; ++index) {
        frames.push_back(testing::oscCommandJson(Uuid::random().text()));
    }
    connection->deliver(framesOf(frames));
    queue.runDue();
    ASSERT_FALSE(connection->hasPendingReceive()) << "reading paused";
    bool failed = false;
    session->sendMessage(relayedRequest(), [&failed] { failed = true; });
    EXPECT_TRUE(failed);
    EXPECT_EQ(connection->cancelCount, 0);
}

} // namespace
} // namespace varnello
