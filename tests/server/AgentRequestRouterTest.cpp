#include "server/AgentRequestRouter.h"

#include "protocol/TessaroBridgeAgentDevice.h"
#include "protocol/TessaroBridgeConstants.h"
#include "server/IPadHarness.h"
#include "support/ManualExecutor.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace varnello {
namespace {

using namespace std::chrono_literals;
using testing::FakeIPad;
using testing::tessaroHelloJson;
using Status = TessaroBridgeAgentResponseStatus;

const std::string chooseText = "Choose a connected Varnello iPad with Agent API support.";
const std::string notConnectedText = "The selected Varnello iPad is not connected.";
const std::string tooManyText = "Too many simultaneous Agent API commands.";
const std::string inUseText = "This Agent API request ID is already in use.";
const std::string timeoutText = "Varnello did not respond within 10 seconds.";
const std::string sendFailedText = "Could not send the Agent API command to Varnello.";

TessaroBridgeAgentRequest requestFor(TessaroBridgeAgentOperation operation,
                                     std::optional<std::string> target = std::nullopt,
                                     Uuid id = Uuid::random()) {
    return {id, std::move(target), operation, std::vector<std::uint8_t>{7, 8}};
}

class RouterTest : public ::testing::Test {
protected:
    FakeIPad& addIPad(const std::string& peerID, const std::string& capabilities,
                      bool saysHello = true) {
        iPads.push_back(testing::connectIPad(
            queue, saysHello ? tessaroHelloJson(peerID, capabilities) : std::string{}));
        return iPads.back();
    }

    AgentRequestRouter::Sessions sessions() const {
        AgentRequestRouter::Sessions list;
        for (const auto& iPad : iPads) {
            list.push_back(iPad.session);
        }
        return list;
    }

    // Routes and returns the index of the answer slot.
    std::size_t route(const TessaroBridgeAgentRequest& request) {
        answers.emplace_back();
        const std::size_t slot = answers.size() - 1;
        router->route(request, sessions(), [this, slot](const TessaroBridgeAgentResponse& r) {
            EXPECT_FALSE(answers[slot].has_value()) << "answered twice";
            answers[slot] = r;
        });
        queue.runDue();
        return slot;
    }

    // Requests forwarded to each iPad, in order.
    std::vector<TessaroBridgeAgentRequest> forwardedTo(const FakeIPad& iPad) const {
        std::vector<TessaroBridgeAgentRequest> forwarded;
        for (const auto& message : iPad.received()) {
            if (const auto* request = message.bodyIf<TessaroBridgeAgentRequest>()) {
                forwarded.push_back(*request);
            }
        }
        return forwarded;
    }

    ManualExecutor queue;
    std::shared_ptr<AgentRequestRouter> router = std::make_shared<AgentRequestRouter>(queue);
    std::deque<FakeIPad> iPads;
    std::deque<std::optional<TessaroBridgeAgentResponse>> answers;
};

// Which check wins, in order: the limit, then the choice of iPad, then a
// reused request ID.
struct RoutingCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> iPads; // peerID, capabilities
    std::size_t alreadyPending;                             // forwarded to "agent" first
    bool reusePendingID;
    std::optional<std::string> target;
    std::optional<Status> status; // nullopt: forwarded
    std::string detail;
    std::optional<std::size_t> forwardedToIPad;
};

class RoutingTable : public RouterTest, public ::testing::WithParamInterface<RoutingCase> {};

TEST_P(RoutingTable, AnswersOrForwardsAsTheChecksSay) {
    const auto& given = GetParam();
    for (const auto& [peerID, capabilities] : given.iPads) {
        addIPad(peerID, capabilities);
    }
    std::vector<Uuid> pendingIDs;
    if (given.alreadyPending > 0) {
        addIPad("helper", R"(["agentAPI"])");
        for (std::size_t index = 0; index < given.alreadyPending; ++index) {
            pendingIDs.push_back(Uuid::random());
            route(requestFor(TessaroBridgeAgentOperation::library, "helper", pendingIDs.back()));
        }
        ASSERT_EQ(router->pendingCount(), given.alreadyPending);
        iPads.pop_back();
    }
    const auto request = requestFor(TessaroBridgeAgentOperation::execute, given.target,
                                    given.reusePendingID ? pendingIDs.front() : Uuid::random());
    const auto slot = route(request);

    if (given.status) {
        ASSERT_TRUE(answers[slot].has_value());
        EXPECT_EQ(*answers[slot], (TessaroBridgeAgentResponse{request.requestID, *given.status,
                                                              std::nullopt, given.detail}));
    } else {
        EXPECT_FALSE(answers[slot].has_value());
    }
    for (std::size_t index = 0; index < given.iPads.size(); ++index) {
        const auto forwarded = forwardedTo(iPads[index]);
        if (given.forwardedToIPad == index) {
            EXPECT_EQ(forwarded, std::vector<TessaroBridgeAgentRequest>{request});
        } else {
            EXPECT_TRUE(forwarded.empty()) << "iPad " << index;
        }
    }
}

const std::vector<RoutingCase> routingCases{
    {"OneAgentIPadWithoutTarget",
     {{"plain", R"(["midi"])"}, {"agent", R"(["midi","agentAPI"])"}},
     0,
     false,
     std::nullopt,
     std::nullopt,
     "",
     1},
    {"NoAgentIPad",
     {{"plain", R"(["midi"])"}},
     0,
     false,
     std::nullopt,
     Status::unavailable,
     chooseText,
     std::nullopt},
    {"TwoAgentIPadsWithoutTarget",
     {{"a", R"(["agentAPI"])"}, {"b", R"(["agentAPI"])"}},
     0,
     false,
     std::nullopt,
     Status::unavailable,
     chooseText,
     std::nullopt},
    {"TargetChoosesAmongTwoAgentIPads",
     {{"a", R"(["agentAPI"])"}, {"b", R"(["agentAPI"])"}},
     0,
     false,
     "b",
     std::nullopt,
     "",
     1},
    {"TargetWithoutAgentAPI",
     {{"plain", R"(["midi"])"}, {"agent", R"(["agentAPI"])"}},
     0,
     false,
     "plain",
     Status::unavailable,
     notConnectedText,
     std::nullopt},
    {"TargetNotConnected",
     {{"agent", R"(["agentAPI"])"}},
     0,
     false,
     "elsewhere",
     Status::unavailable,
     notConnectedText,
     std::nullopt},
    {"TargetCaseMatters",
     {{"agent", R"(["agentAPI"])"}},
     0,
     false,
     "Agent",
     Status::unavailable,
     notConnectedText,
     std::nullopt},
    {"TwoConnectionsWithTheTargetID",
     {{"same", R"(["agentAPI"])"}, {"same", R"(["agentAPI"])"}},
     0,
     false,
     "same",
     Status::unavailable,
     notConnectedText,
     std::nullopt},
    {"FifteenPendingStillForwards",
     {{"agent", R"(["agentAPI"])"}},
     15,
     false,
     std::nullopt,
     std::nullopt,
     "",
     0},
    {"SixteenPendingRefusesFirst",
     {{"agent", R"(["agentAPI"])"}},
     16,
     false,
     std::nullopt,
     Status::unavailable,
     tooManyText,
     std::nullopt},
    {"SixteenPendingRefusesBeforeChoosing",
     {},
     16,
     true,
     std::nullopt,
     Status::unavailable,
     tooManyText,
     std::nullopt},
    {"ReusedPendingID",
     {{"agent", R"(["agentAPI"])"}},
     1,
     true,
     std::nullopt,
     Status::rejected,
     inUseText,
     std::nullopt},
    {"ReusedPendingIDWithoutIPadFailsTheChoiceFirst",
     {},
     1,
     true,
     std::nullopt,
     Status::unavailable,
     chooseText,
     std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Checks, RoutingTable, ::testing::ValuesIn(routingCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(RouterTest, RelaysTheIPadsAnswerUnchangedOnceAndIgnoresUnknownAnswers) {
    addIPad("agent", R"(["agentAPI"])");
    const auto request = requestFor(TessaroBridgeAgentOperation::performance);
    const auto slot = route(request);
    const TessaroBridgeAgentResponse answer{request.requestID, Status::rejected,
                                            std::vector<std::uint8_t>{9}, "busy"};
    router->complete(TessaroBridgeAgentResponse{Uuid::random(), Status::accepted, {}, {}});
    EXPECT_FALSE(answers[slot].has_value());
    router->complete(answer);
    EXPECT_EQ(answers[slot], answer);
    EXPECT_EQ(router->pendingCount(), 0U);
    router->complete(answer); // a second answer finds nothing
}

TEST_F(RouterTest, TimesOutAfterExactlyTenSecondsAndIgnoresALateAnswer) {
    addIPad("agent", R"(["agentAPI"])");
    const auto request = requestFor(TessaroBridgeAgentOperation::library);
    const auto slot = route(request);
    queue.advance(9999ms);
    EXPECT_FALSE(answers[slot].has_value());
    queue.advance(1ms);
    ASSERT_TRUE(answers[slot].has_value());
    EXPECT_EQ(*answers[slot], (TessaroBridgeAgentResponse{request.requestID, Status::timeout,
                                                          std::nullopt, timeoutText}));
    router->complete(TessaroBridgeAgentResponse{request.requestID, Status::accepted, {}, {}});
    EXPECT_EQ(answers[slot]->status, Status::timeout);
}

// Regression: the timer of an answered request timed out a newer request
// that reused its ID.
TEST_F(RouterTest, TimerOfAnAnsweredRequestLeavesALaterRequestWithTheSameIDAlone) {
    addIPad("agent", R"(["agentAPI"])");
    const auto request = requestFor(TessaroBridgeAgentOperation::library);
    route(request);
    queue.advance(5s);
    router->complete(TessaroBridgeAgentResponse{request.requestID, Status::accepted, {}, {}});
    queue.advance(1s);
    const auto second = route(request);
    queue.advance(4s); // the first request's timer is due now
    EXPECT_FALSE(answers[second].has_value());
    EXPECT_EQ(router->pendingCount(), 1U);
    queue.advance(6s);
    ASSERT_TRUE(answers[second].has_value());
    EXPECT_EQ(answers[second]->status, Status::timeout);
}

TEST_F(RouterTest, SendFailureClosesTheIPadAndAnswersUnavailable) {
    FakeIPad& iPad = addIPad("agent", R"(["agentAPI"])");
    queue.runDue(); // the bridge hello goes out
    iPad.connection->completeSendsAutomatically = false;
    const auto request = requestFor(TessaroBridgeAgentOperation::execute);
    const auto slot = route(request);
    EXPECT_FALSE(answers[slot].has_value());
    iPad.connection->completeSend(TransportError(32, "Broken pipe"));
    ASSERT_TRUE(answers[slot].has_value());
    EXPECT_EQ(*answers[slot], (TessaroBridgeAgentResponse{request.requestID, Status::unavailable,
                                                          std::nullopt, sendFailedText}));
    EXPECT_EQ(iPad.connection->cancelCount, 1);
    queue.advance(10s); // the timer finds nothing left to answer
}

TEST_F(RouterTest, StoppingAnswersEveryPendingRequest) {
    addIPad("agent", R"(["agentAPI"])");
    const auto first = route(requestFor(TessaroBridgeAgentOperation::library));
    const auto second = route(requestFor(TessaroBridgeAgentOperation::execute));
    router->answerAllStopping();
    for (const auto slot : {first, second}) {
        ASSERT_TRUE(answers[slot].has_value());
        EXPECT_EQ(answers[slot]->status, Status::unavailable);
        EXPECT_EQ(answers[slot]->detail, "Varnello Bridge is stopping.");
        EXPECT_FALSE(answers[slot]->payload.has_value());
    }
    EXPECT_EQ(router->pendingCount(), 0U);
    queue.advance(10s);
}

TEST_F(RouterTest, DevicesListsEveryIPadWithAHelloInConnectionOrderEvenWhenSixteenArePending) {
    addIPad("agent", R"(["midi","agentAPI"])");
    addIPad("silent", "", false);
    addIPad("plain", R"(["osc"])");
    for (int index = 0; index < 16; ++index) {
        route(requestFor(TessaroBridgeAgentOperation::library));
    }
    const auto request = requestFor(TessaroBridgeAgentOperation::devices, "ignored");
    const auto slot = route(request);
    ASSERT_TRUE(answers[slot].has_value());
    EXPECT_EQ(answers[slot]->requestID, request.requestID);
    EXPECT_EQ(answers[slot]->status, Status::accepted);
    EXPECT_FALSE(answers[slot]->detail.has_value());
    ASSERT_TRUE(answers[slot]->payload.has_value());
    const auto devices = TessaroBridgeAgentDevice::decodeList(*answers[slot]->payload);
    EXPECT_EQ(devices, (std::vector<TessaroBridgeAgentDevice>{
                           {"agent",
                            "iPad agent",
                            {TessaroBridgeCapability::midi, TessaroBridgeCapability::agentAPI}},
                           {"plain", "iPad plain", {TessaroBridgeCapability::osc}}}));
}

TEST_F(RouterTest, DevicesWithoutIPadsIsAnEmptyArray) {
    const auto slot = route(requestFor(TessaroBridgeAgentOperation::devices));
    ASSERT_TRUE(answers[slot].has_value());
    EXPECT_EQ(answers[slot]->payload, (std::vector<std::uint8_t>{'[', ']'}));
}

TEST_F(RouterTest, DevicesListThatWouldNotFitListsTheLongestPrefixThatDoes) {
    // Quotes and backslashes double in JSON, so each device takes over 1000 bytes.
    const std::string quotes(255, '"');
    const std::string backslashes(254, '\\');
    constexpr std::size_t count = 60;
    std::vector<TessaroBridgeAgentDevice> all;
    for (std::size_t index = 0; index < count; ++index) {
        const std::string peerID = std::to_string(index + 100) + quotes.substr(3);
        const auto json = nlohmann::json{{"type", "hello"},
                                         {"body",
                                          {{"role", "tessaro"},
                                           {"protocolVersion", 1},
                                           {"peerID", peerID},
                                           {"displayName", backslashes},
                                           {"capabilities", {"midi"}}}}}
                              .dump();
        addIPad("", "", false).connection->deliver(testing::frameOf(json));
        all.push_back({peerID, backslashes, {TessaroBridgeCapability::midi}});
    }
    ASSERT_GT(TessaroBridgeAgentDevice::encodeList(all).size(), maximumAgentPayloadBytes);

    const auto slot = route(requestFor(TessaroBridgeAgentOperation::devices));
    ASSERT_TRUE(answers[slot].has_value());
    EXPECT_EQ(answers[slot]->status, Status::accepted);
    ASSERT_TRUE(answers[slot]->payload.has_value());
    EXPECT_LE(answers[slot]->payload->size(), maximumAgentPayloadBytes);
    const auto listed = TessaroBridgeAgentDevice::decodeList(*answers[slot]->payload);
    ASSERT_LT(listed.size(), count);
    ASSERT_GT(listed.size(), 0U);
    EXPECT_TRUE(std::equal(listed.begin(), listed.end(), all.begin()));
    std::vector<TessaroBridgeAgentDevice> oneMore(all.begin(),
                                                  all.begin() + std::ptrdiff_t(listed.size() + 1));
    EXPECT_GT(TessaroBridgeAgentDevice::encodeList(oneMore).size(), maximumAgentPayloadBytes);
    EXPECT_EQ(answers[slot]->detail, "The device list holds " + std::to_string(listed.size()) +
                                         " of 60 connected Varnello iPads; the others do not "
                                         "fit in one response.");
}

} // namespace
} // namespace varnello
