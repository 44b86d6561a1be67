#include "protocol/TessaroBridgeHello.h"

#include "ProtocolTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace varnello {
namespace {

using namespace varnello::testing;

std::string helloText(std::string_view fields) {
    return R"({"type":"hello","body":{)" + std::string(fields) + "}}";
}

TEST(TessaroBridgeHello, MakeKeepsExactlyTheGivenValues) {
    const auto hello =
        TessaroBridgeHello::make(TessaroBridgePeerRole::bridge, 1, "  peer ", " Studio Mac ",
                                 {TessaroBridgeCapability::osc, TessaroBridgeCapability::midi});
    EXPECT_EQ(hello.role(), TessaroBridgePeerRole::bridge);
    EXPECT_EQ(hello.protocolVersion(), 1);
    EXPECT_EQ(hello.peerID(), "  peer ");
    EXPECT_EQ(hello.displayName(), " Studio Mac ");
    EXPECT_EQ(hello.capabilities(),
              (std::set{TessaroBridgeCapability::midi, TessaroBridgeCapability::osc}));
}

TEST(TessaroBridgeHello, MakeRefusesWhatValidationRefuses) {
    EXPECT_EQ(outcomeOf([] {
                  TessaroBridgeHello::make(TessaroBridgePeerRole::tessaro, 1, "ipad", "iPad", {});
              }),
              "The Bridge must offer at least one output capability.");
    EXPECT_EQ(outcomeOf([] {
                  TessaroBridgeHello::make(TessaroBridgePeerRole::bridge, 3, "", "",
                                           {TessaroBridgeCapability::midi});
              }),
              "Unsupported Varnello Bridge protocol version 3.");
}

TEST(TessaroBridgeHello, EqualityComparesCapabilitiesAsSets) {
    const auto a = TessaroBridgeHello::make(
        TessaroBridgePeerRole::tessaro, 1, "ipad", "iPad",
        {TessaroBridgeCapability::agentAPI, TessaroBridgeCapability::midi});
    const auto b = TessaroBridgeHello::make(
        TessaroBridgePeerRole::tessaro, 1, "ipad", "iPad",
        {TessaroBridgeCapability::midi, TessaroBridgeCapability::agentAPI});
    const auto c = TessaroBridgeHello::make(TessaroBridgePeerRole::tessaro, 1, "ipad", "iPad",
                                            {TessaroBridgeCapability::midi});
    const auto d = TessaroBridgeHello::make(
        TessaroBridgePeerRole::bridge, 1, "ipad", "iPad",
        {TessaroBridgeCapability::midi, TessaroBridgeCapability::agentAPI});
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a, d);
}

TEST(TessaroBridgeHello, ReadsCapabilitiesAsASet) {
    const auto message = decodeText(helloText(
        R"("role":"tessaro","protocolVersion":1,"peerID":"a","displayName":"b","capabilities":["midi","midi"])"));
    EXPECT_EQ(message.bodyIf<TessaroBridgeHello>()->capabilities(),
              std::set{TessaroBridgeCapability::midi});
}

struct DecodeCase {
    std::string name;
    std::string fields;
    std::string outcome;
};

TEST(TessaroBridgeHello, DecodingReadsEveryKeyBeforeAnyCheck) {
    const std::string versionTwo = "Unsupported Varnello Bridge protocol version 2.";
    const DecodeCase cases[] = {
        {"valid",
         R"("role":"tessaro","protocolVersion":1,"peerID":"a","displayName":"b","capabilities":["osc"])",
         std::string(ok)},
        {"version written as 1.0",
         R"("role":"tessaro","protocolVersion":1.0,"peerID":"a","displayName":"b","capabilities":["osc"])",
         std::string(ok)},
        {"version 2",
         R"("role":"tessaro","protocolVersion":2,"peerID":"a","displayName":"b","capabilities":["osc"])",
         versionTwo},
        {"version 2 with empty peerID and capabilities",
         R"("role":"tessaro","protocolVersion":2,"peerID":"","displayName":"b","capabilities":[])",
         versionTwo},
        {"empty peerID and capabilities",
         R"("role":"tessaro","protocolVersion":1,"peerID":"","displayName":"b","capabilities":[])",
         "The Bridge identity is invalid."},
        {"empty capabilities",
         R"("role":"tessaro","protocolVersion":1,"peerID":"a","displayName":"b","capabilities":[])",
         "The Bridge must offer at least one output capability."},
        {"display name with a line feed",
         R"("role":"tessaro","protocolVersion":1,"peerID":"a","displayName":"b\nc","capabilities":["midi"])",
         "The Bridge name is invalid."},
        {"peerID with an escaped NUL",
         R"("role":"tessaro","protocolVersion":1,"peerID":"a\u0000","displayName":"b","capabilities":["midi"])",
         "The Bridge identity is invalid."},
        {"version 2 but capabilities mistyped",
         R"("role":"tessaro","protocolVersion":2,"peerID":"a","displayName":"b","capabilities":"midi")",
         std::string(decodingFailure)},
        {"version 2 but role missing",
         R"("protocolVersion":2,"peerID":"a","displayName":"b","capabilities":["midi"])",
         std::string(decodingFailure)},
        {"version 2 but capabilities hold an unknown value",
         R"("role":"tessaro","protocolVersion":2,"peerID":"a","displayName":"b","capabilities":["video"])",
         std::string(decodingFailure)},
        {"version as a string",
         R"("role":"tessaro","protocolVersion":"1","peerID":"a","displayName":"b","capabilities":["midi"])",
         std::string(decodingFailure)},
        {"fractional version",
         R"("role":"tessaro","protocolVersion":1.5,"peerID":"a","displayName":"b","capabilities":["midi"])",
         std::string(decodingFailure)},
        {"version beyond 64 bits",
         R"("role":"tessaro","protocolVersion":18446744073709551615,"peerID":"a","displayName":"b","capabilities":["midi"])",
         std::string(decodingFailure)},
        {"peerID as a number",
         R"("role":"tessaro","protocolVersion":1,"peerID":5,"displayName":"b","capabilities":["midi"])",
         std::string(decodingFailure)},
        {"displayName null",
         R"("role":"tessaro","protocolVersion":1,"peerID":"a","displayName":null,"capabilities":["midi"])",
         std::string(decodingFailure)},
        {"capability not a string",
         R"("role":"tessaro","protocolVersion":1,"peerID":"a","displayName":"b","capabilities":[1])",
         std::string(decodingFailure)},
        {"capabilities missing",
         R"("role":"tessaro","protocolVersion":1,"peerID":"a","displayName":"b")",
         std::string(decodingFailure)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcomeOf([&] { decodeText(helloText(c.fields)); }), c.outcome) << c.name;
    }
}

TEST(TessaroBridgeHello, LargeVersionIsReportedExactly) {
    EXPECT_EQ(
        outcomeOf([] {
            decodeText(helloText(
                R"("role":"bridge","protocolVersion":-9223372036854775808,"peerID":"a","displayName":"b","capabilities":["midi"])"));
        }),
        "Unsupported Varnello Bridge protocol version -9223372036854775808.");
}

TEST(TessaroBridgeHello, EncodesEveryFieldWithoutChecks) {
    const auto hello =
        TessaroBridgeHello::make(TessaroBridgePeerRole::bridge, 1, "id", "Studio",
                                 {TessaroBridgeCapability::osc, TessaroBridgeCapability::midi});
    EXPECT_EQ(
        hello.toJson().dump(),
        R"({"role":"bridge","protocolVersion":1,"peerID":"id","displayName":"Studio","capabilities":["midi","osc"]})");
}

} // namespace
} // namespace varnello
