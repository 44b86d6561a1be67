// The bounds of an iPad session: silence before the hello, a peer that takes
// nothing, relayed messages beyond the queued-send bound, and the relayed
// messages still waiting when the session ends.

#include "server/BridgeClientSession.h"
#include "server/ClientSessionFixture.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
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
