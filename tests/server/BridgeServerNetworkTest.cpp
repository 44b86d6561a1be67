#include "protocol/TessaroBridgeAgentDevice.h"
#include "protocol/TessaroBridgeFrameDecoder.h"
#include "server/AsioServerQueue.h"
#include "server/AsioTcpTransport.h"
#include "server/BridgeServer.h"
#include "server/FakeDnsServiceRegistrar.h"
#include "server/ScriptedCommandIntake.h"
#include "server/TransportTestSupport.h"
#include "server/WireHelpers.h"
#include "support/ManualExecutor.h"
#include "support/RecordingLogSink.h"

#include <algorithm>
#include <arpa/inet.h>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace varnello {
namespace {

using testing::frameOf;
using testing::uuidOf;
using Report = std::pair<BridgeServerState, std::int64_t>;

const BridgeIdentity studio{std::string(64, 'd'), "Studio Mac"};
const std::string commandID = "8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B";
const std::string requestID = "4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A";

// The server's reports, from whichever thread makes them.
class ReportLog {
public:
    void add(Report report) {
        {
            std::lock_guard lock(mutex_);
            reports_.push_back(std::move(report));
        }
        changed_.notify_all();
    }

    // The first report that satisfies `wanted`; throws when none comes in time.
    Report waitFor(const std::function<bool(const Report&)>& wanted) {
        std::unique_lock lock(mutex_);
        std::optional<Report> found;
        const bool arrived = changed_.wait_for(lock, test::eventTimeout, [&] {
            for (const auto& report : reports_) {
                if (wanted(report)) {
                    found = report;
                    return true;
                }
            }
            return false;
        });
        if (!arrived) {
            throw std::runtime_error("the expected server report did not come");
        }
        return *found;
    }

    void clear() {
        std::lock_guard lock(mutex_);
        reports_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Report> reports_;
};

// Reads one whole frame from a peer socket and decodes it.
std::optional<TessaroBridgeMessage> readMessage(test::LoopbackClient& client) {
    const auto prefix = client.read(4);
    if (prefix.size() < 4) {
        return std::nullopt;
    }
    const std::size_t length = (std::size_t(prefix[0]) << 24) | (std::size_t(prefix[1]) << 16) |
                               (std::size_t(prefix[2]) << 8) | std::size_t(prefix[3]);
    auto payload = client.read(length);
    if (payload.size() < length) {
        return std::nullopt;
    }
    return decodeMessage(payload);
}

class ServerNetworkTest : public ::testing::Test {
protected:
    void SetUp() override { server = makeServer(); }

    std::shared_ptr<BridgeServer> makeServer() {
        auto made = std::make_shared<BridgeServer>(
            studio, commands,
            BridgeServerEnvironment{main, queue, transport,
                                    std::make_unique<BonjourPublisher>(
                                        main, std::make_shared<RecordingLogSink>(),
                                        std::make_unique<testing::FakeDnsServiceRegistrar>(dns))});
        made->onStatusChange = [this](const BridgeServerState& state, std::int64_t count) {
            reports.add({state, count});
        };
        return made;
    }

    void TearDown() override {
        server.reset();
        queue.stop(std::chrono::seconds(2));
    }

    std::uint16_t startAndWaitUntilReady() {
        server->start();
        const auto ready = reports.waitFor(
            [](const Report& r) { return r.first.kind() == BridgeServerState::Case::ready; });
        return ready.first.port();
    }

    // An iPad that has read the bridge hello and sent its own.
    std::unique_ptr<test::LoopbackClient> connectIPad(std::uint16_t port,
                                                      const std::string& capabilities) {
        auto iPad = std::make_unique<test::LoopbackClient>("127.0.0.1", port);
        const auto hello = readMessage(*iPad);
        EXPECT_TRUE(hello && hello->bodyIf<TessaroBridgeHello>());
        iPad->send(frameOf(testing::tessaroHelloJson("ipad-1", capabilities)));
        return iPad;
    }

    ManualExecutor main;
    AsioServerQueue queue;
    std::shared_ptr<testing::ScriptedCommandIntake> commands =
        testing::ScriptedCommandIntake::answeringNextTurn(
            queue, [](const TessaroBridgeCommand& command) {
                return TessaroBridgeAcknowledgement{command.id, TessaroBridgeAckStatus::accepted,
                                                    "played"};
            });
    AsioTcpTransport transport{queue.context()};
    std::shared_ptr<testing::FakeDnsServiceRegistrar::Log> dns =
        std::make_shared<testing::FakeDnsServiceRegistrar::Log>();
    std::shared_ptr<BridgeServer> server;
    ReportLog reports;
};

TEST_F(ServerNetworkTest, IPadAndAgentAreServedOverLoopbackTcp) {
    const auto port = startAndWaitUntilReady();
    ASSERT_NE(port, 0);
    main.runDue();
    ASSERT_EQ(dns->published.size(), 1U);
    EXPECT_EQ(dns->published[0].port, port);

    test::LoopbackClient iPad("127.0.0.1", port);
    const auto hello = readMessage(iPad);
    ASSERT_TRUE(hello.has_value());
    EXPECT_EQ(*hello, TessaroBridgeMessage(TessaroBridgeHello::make(
                          TessaroBridgePeerRole::bridge, 1, studio.id, studio.displayName,
                          {TessaroBridgeCapability::midi, TessaroBridgeCapability::osc})));
    // The hello and a command in one segment.
    auto bytes = frameOf(testing::tessaroHelloJson("ipad-1", R"(["midi","agentAPI"])"));
    const auto command = frameOf(testing::oscCommandJson(commandID));
    bytes.insert(bytes.end(), command.begin(), command.end());
    iPad.send(bytes);
    EXPECT_EQ(readMessage(iPad),
              TessaroBridgeMessage(TessaroBridgeAcknowledgement{
                  uuidOf(commandID), TessaroBridgeAckStatus::accepted, "played"}));

    {
        test::LoopbackClient agent("127.0.0.1", BridgeServer::agentControlPort);
        agent.send(frameOf(testing::agentRequestJson(requestID, "devices")));
        const auto listing = readMessage(agent);
        ASSERT_TRUE(listing.has_value());
        const auto* response = listing->bodyIf<TessaroBridgeAgentResponse>();
        ASSERT_NE(response, nullptr);
        ASSERT_TRUE(response->payload.has_value());
        EXPECT_EQ(TessaroBridgeAgentDevice::decodeList(*response->payload),
                  (std::vector<TessaroBridgeAgentDevice>{
                      {"ipad-1",
                       "iPad ipad-1",
                       {TessaroBridgeCapability::midi, TessaroBridgeCapability::agentAPI}}}));
        EXPECT_TRUE(agent.seesEndOfStream());
    }

    test::LoopbackClient agent("127.0.0.1", BridgeServer::agentControlPort);
    agent.send(frameOf(testing::agentRequestJson(requestID, "performance")));
    EXPECT_EQ(readMessage(iPad), TessaroBridgeMessage(TessaroBridgeAgentRequest{
                                     uuidOf(requestID), std::nullopt,
                                     TessaroBridgeAgentOperation::performance, std::nullopt}));
    iPad.send(frameOf(testing::agentResponseJson(requestID, "accepted")));
    EXPECT_EQ(readMessage(agent), TessaroBridgeMessage(TessaroBridgeAgentResponse{
                                      uuidOf(requestID), TessaroBridgeAgentResponseStatus::accepted,
                                      std::vector<std::uint8_t>{1, 2, 3}, "done"}));
    EXPECT_TRUE(agent.seesEndOfStream());
}

TEST_F(ServerNetworkTest, HalfClosingIPadGetsItsAnswerAndLowersTheCount) {
    const auto port = startAndWaitUntilReady();
    auto iPad = connectIPad(port, R"(["midi"])");
    reports.waitFor([](const Report& r) { return r.second == 1; });
    reports.clear();
    iPad->send(frameOf(testing::oscCommandJson(commandID)));
    iPad->finishSending();
    EXPECT_EQ(readMessage(*iPad),
              TessaroBridgeMessage(TessaroBridgeAcknowledgement{
                  uuidOf(commandID), TessaroBridgeAckStatus::accepted, "played"}));
    EXPECT_TRUE(iPad->seesEndOfStream());
    reports.waitFor(
        [port](const Report& r) { return r == Report(BridgeServerState::ready(port), 0); });
}

TEST_F(ServerNetworkTest, StopAnswersAWaitingAgentAndEndsStoppedWithNoClients) {
    const auto port = startAndWaitUntilReady();
    auto iPad = connectIPad(port, R"(["agentAPI"])");
    test::LoopbackClient agent("127.0.0.1", BridgeServer::agentControlPort);
    agent.send(frameOf(testing::agentRequestJson(requestID, "library")));
    ASSERT_TRUE(readMessage(*iPad).has_value()); // forwarded, never answered

    server->stop();
    EXPECT_EQ(readMessage(agent),
              TessaroBridgeMessage(TessaroBridgeAgentResponse{
                  uuidOf(requestID), TessaroBridgeAgentResponseStatus::unavailable, std::nullopt,
                  "Varnello Bridge is stopping."}));
    EXPECT_TRUE(agent.seesEndOfStream());
    EXPECT_TRUE(iPad->seesEndOfStream());
    reports.waitFor([](const Report& r) { return r == Report(BridgeServerState::stopped(), 0); });
}

std::vector<TessaroBridgeAgentDevice> listDevices() {
    test::LoopbackClient agent("127.0.0.1", BridgeServer::agentControlPort);
    agent.send(frameOf(testing::agentRequestJson(requestID, "devices")));
    const auto answer = readMessage(agent);
    if (!answer || !answer->bodyIf<TessaroBridgeAgentResponse>() ||
        !answer->bodyIf<TessaroBridgeAgentResponse>()->payload) {
        throw std::runtime_error("no device list");
    }
    return TessaroBridgeAgentDevice::decodeList(
        *answer->bodyIf<TessaroBridgeAgentResponse>()->payload);
}

// Regression: the connections the bridge had closed on the agent port kept a
// restarted bridge off that port, so its Agent API was silently missing.
TEST_F(ServerNetworkTest, RestartedServerGetsTheAgentPortBackAtOnce) {
    startAndWaitUntilReady();
    EXPECT_TRUE(listDevices().empty());
    server->stop();
    reports.waitFor([](const Report& r) { return r == Report(BridgeServerState::stopped(), 0); });
    server.reset();
    reports.clear();

    server = makeServer();
    startAndWaitUntilReady();
    EXPECT_TRUE(listDevices().empty());
}

// One iPad connection over real TCP: frames in, answers out, closed or open.
struct WireCase {
    const char* name;
    std::vector<std::string> frames;
    std::vector<TessaroBridgeMessage> answers;
    bool closes;
};

class ServerWireTable : public ServerNetworkTest, public ::testing::WithParamInterface<WireCase> {};

TEST_P(ServerWireTable, AnswersAndClosesAsTheTableSays) {
    const auto& given = GetParam();
    const auto port = startAndWaitUntilReady();
    test::LoopbackClient iPad("127.0.0.1", port);
    ASSERT_TRUE(readMessage(iPad).has_value()); // the bridge hello
    iPad.send(testing::framesOf(given.frames));
    for (const auto& expected : given.answers) {
        EXPECT_EQ(readMessage(iPad), expected);
    }
    if (given.closes) {
        EXPECT_TRUE(iPad.seesEndOfStream());
        reports.waitFor(
            [port](const Report& r) { return r == Report(BridgeServerState::ready(port), 0); });
        return;
    }
    // Still open: a probe command is answered.
    const std::string probe = "00000000-0000-4000-8000-000000000001";
    iPad.send(frameOf(testing::oscCommandJson(probe)));
    const auto answer = readMessage(iPad);
    ASSERT_TRUE(answer && answer->bodyIf<TessaroBridgeAcknowledgement>());
    EXPECT_EQ(answer->bodyIf<TessaroBridgeAcknowledgement>()->commandID, uuidOf(probe));
}

const std::string helloJson = testing::tessaroHelloJson("ipad-1", R"(["midi"])");
const std::string otherCommand = "11111111-2222-4333-8444-555555555555";

TessaroBridgeMessage played(const std::string& id) {
    return TessaroBridgeAcknowledgement{uuidOf(id), TessaroBridgeAckStatus::accepted, "played"};
}

INSTANTIATE_TEST_SUITE_P(
    Wire, ServerWireTable,
    ::testing::Values(WireCase{"CommandBeforeHelloIsRejectedAndTheSessionStays",
                               {testing::oscCommandJson(commandID)},
                               {TessaroBridgeAcknowledgement{uuidOf(commandID),
                                                             TessaroBridgeAckStatus::rejected,
                                                             "Send a valid Varnello hello first."}},
                               false},
                      WireCase{"TwoCommandsInOneSegmentInOrder",
                               {helloJson, testing::oscCommandJson(commandID),
                                testing::oscCommandJson(otherCommand)},
                               {played(commandID), played(otherCommand)},
                               false},
                      WireCase{"HelloWithBridgeRoleCloses",
                               {testing::tessaroHelloJson("ipad-1", R"(["midi"])", "bridge")},
                               {},
                               true},
                      WireCase{"SecondHelloCloses", {helloJson, helloJson}, {}, true},
                      WireCase{"AcknowledgementCloses",
                               {helloJson, R"({"type":"acknowledgement","body":{"commandID":")" +
                                               commandID + R"(","status":"accepted"}})"},
                               {},
                               true},
                      WireCase{"AgentRequestFromIPadCloses",
                               {helloJson, testing::agentRequestJson(requestID, "devices")},
                               {},
                               true},
                      WireCase{"AgentResponseBeforeHelloCloses",
                               {testing::agentResponseJson(requestID, "accepted")},
                               {},
                               true},
                      WireCase{"AgentResponseNobodyWaitsForIsIgnored",
                               {helloJson, testing::agentResponseJson(requestID, "accepted")},
                               {},
                               false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ServerNetworkTest, FrameSplitOverManySegmentsIsHandledWhenComplete) {
    const auto port = startAndWaitUntilReady();
    auto iPad = connectIPad(port, R"(["midi"])");
    const auto frame = frameOf(testing::oscCommandJson(commandID));
    for (std::size_t offset = 0; offset < frame.size(); offset += 7) {
        const auto end = std::min(frame.size(), offset + 7);
        iPad->send(std::vector<std::uint8_t>(frame.begin() + std::ptrdiff_t(offset),
                                             frame.begin() + std::ptrdiff_t(end)));
    }
    EXPECT_EQ(readMessage(*iPad), played(commandID));
}

TEST_F(ServerNetworkTest, ReportsTwoIPadsAndOneLeaving) {
    const auto port = startAndWaitUntilReady();
    auto first = connectIPad(port, R"(["midi"])");
    reports.waitFor([](const Report& r) { return r.second == 1; });
    auto second = connectIPad(port, R"(["osc"])");
    reports.waitFor(
        [port](const Report& r) { return r == Report(BridgeServerState::ready(port), 2); });
    reports.clear();
    first.reset();
    EXPECT_EQ(reports.waitFor([](const Report&) { return true; }),
              Report(BridgeServerState::ready(port), 1));
}

// Holds 127.0.0.1:54884 the way another program would.
class PortOccupant {
public:
    PortOccupant() {
        descriptor_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // Like the bridge, so that connections of earlier tests in TIME_WAIT
        // do not stop it; a listening socket still keeps the bridge out.
        const int reuse = 1;
        ::setsockopt(descriptor_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(BridgeServer::agentControlPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(descriptor_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(descriptor_, 1) != 0) {
            ::close(descriptor_);
            throw std::runtime_error("could not occupy the agent port");
        }
    }
    ~PortOccupant() { ::close(descriptor_); }
    PortOccupant(const PortOccupant&) = delete;
    PortOccupant& operator=(const PortOccupant&) = delete;

private:
    int descriptor_ = -1;
};

TEST_F(ServerNetworkTest, TakenAgentPortLeavesIPadsServed) {
    PortOccupant occupant;
    const auto port = startAndWaitUntilReady();
    auto iPad = connectIPad(port, R"(["midi"])");
    iPad->send(frameOf(testing::oscCommandJson(commandID)));
    EXPECT_EQ(readMessage(*iPad),
              TessaroBridgeMessage(TessaroBridgeAcknowledgement{
                  uuidOf(commandID), TessaroBridgeAckStatus::accepted, "played"}));
    reports.waitFor(
        [port](const Report& r) { return r == Report(BridgeServerState::ready(port), 1); });
}

} // namespace
} // namespace varnello
