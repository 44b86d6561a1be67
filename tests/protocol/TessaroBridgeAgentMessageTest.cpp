#include "ProtocolTestSupport.h"
#include "protocol/TessaroBridgeAgentDevice.h"
#include "protocol/TessaroBridgeMessage.h"
#include "support/Base64.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace varnello {
namespace {

using namespace varnello::testing;

const std::string requestIDText = "4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A";
const std::string payloadError47105 =
    "The AgentAPI payload allows at most 47104 bytes, but contains 47105.";

std::string requestText(std::string_view extraFields) {
    return R"({"type":"agentRequest","body":{"requestID":")" + requestIDText +
           R"(","operation":"execute")" + std::string(extraFields) + "}}";
}

std::string responseText(std::string_view extraFields) {
    return R"({"type":"agentResponse","body":{"requestID":")" + requestIDText +
           R"(","status":"accepted")" + std::string(extraFields) + "}}";
}

std::string base64Of(std::size_t size) {
    const std::vector<std::uint8_t> bytes(size, 0xA5);
    return base64Encode(bytes);
}

std::string jsonString(std::string_view text) {
    return TessaroBridgeJson(std::string(text)).dump();
}

TEST(TessaroBridgeAgentRequest, ChecksTargetThenPayloadSize) {
    struct Case {
        std::string name;
        std::string fields;
        std::string outcome;
    };
    const Case cases[] = {
        {"no target", "", std::string(ok)},
        {"null target", R"(,"targetPeerID":null)", std::string(ok)},
        {"empty target", R"(,"targetPeerID":"")", "The Bridge identity is invalid."},
        {"target of 255 bytes", R"(,"targetPeerID":")" + std::string(255, 't') + "\"",
         std::string(ok)},
        {"target of 256 bytes", R"(,"targetPeerID":")" + std::string(256, 't') + "\"",
         "The Bridge identity is invalid."},
        {"target with a control character is not checked", R"(,"targetPeerID":"a\u0001")",
         std::string(ok)},
        {"target before payload", R"(,"targetPeerID":"","payload":")" + base64Of(47105) + "\"",
         "The Bridge identity is invalid."},
        {"payload of 47104 bytes", R"(,"payload":")" + base64Of(47104) + "\"", std::string(ok)},
        {"payload of 47105 bytes", R"(,"payload":")" + base64Of(47105) + "\"", payloadError47105},
        {"payload not base64", R"(,"payload":"AQI")", std::string(decodingFailure)},
        {"payload with a line break", R"(,"payload":"AQID\n")", std::string(decodingFailure)},
        {"payload with URL-safe alphabet", R"(,"payload":"-_-_")", std::string(decodingFailure)},
        {"payload as a number array", R"(,"payload":[1,2,3])", std::string(decodingFailure)},
        {"target as a number", R"(,"targetPeerID":5)", std::string(decodingFailure)},
        {"mistyped target is found before the payload size",
         R"(,"targetPeerID":5,"payload":")" + base64Of(47105) + "\"", std::string(decodingFailure)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcomeOf([&] { decodeText(requestText(c.fields)); }), c.outcome) << c.name;
    }
}

TEST(TessaroBridgeAgentRequest, MissingKeysFail) {
    const std::string cases[] = {
        R"({"type":"agentRequest","body":{"operation":"devices"}})",
        R"({"type":"agentRequest","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A"}})",
    };
    for (const auto& text : cases) {
        EXPECT_EQ(outcomeOf([&] { decodeText(text); }), decodingFailure) << text;
    }
}

TEST(TessaroBridgeAgentResponse, ChecksPayloadSize) {
    struct Case {
        std::string fields;
        std::string outcome;
    };
    const Case cases[] = {
        {R"(,"payload":")" + base64Of(47104) + "\"", std::string(ok)},
        {R"(,"payload":")" + base64Of(47105) + "\"", payloadError47105},
        {R"(,"payload":"")", std::string(ok)},
        {R"(,"payload":"AQ=")", std::string(decodingFailure)},
        {R"(,"detail":7)", std::string(decodingFailure)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcomeOf([&] { decodeText(responseText(c.fields)); }), c.outcome)
            << c.fields.substr(0, 40);
    }
}

TEST(TessaroBridgeAgentResponse, CutsTheDetailToWholeCharacters) {
    const std::string emoji = "\xF0\x9F\x98\x80";
    const std::string eWithAcute = "e\xCC\x81";
    const std::string family =
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    const std::string flag = "\xF0\x9F\x87\xB3\xF0\x9F\x87\xB1";
    struct Case {
        std::string name;
        std::string detail;
        std::string kept;
    };
    const Case cases[] = {
        {"short", "Failed.", "Failed."},
        {"300 ASCII characters", std::string(300, 'x'), std::string(255, 'x')},
        {"255 emoji are left whole", repeated(emoji, 255), repeated(emoji, 255)},
        {"256 emoji lose the last", repeated(emoji, 256), repeated(emoji, 255)},
        {"255 letters with combining marks", repeated(eWithAcute, 255), repeated(eWithAcute, 255)},
        {"combining mark on the 255th character stays", std::string(254, 'x') + eWithAcute + "yz",
         std::string(254, 'x') + eWithAcute},
        {"emoji sequence on the 255th character stays", std::string(254, 'x') + family + "z",
         std::string(254, 'x') + family},
        {"flag on the 255th character stays", std::string(254, 'x') + flag + flag,
         std::string(254, 'x') + flag},
        {"emoji sequence after the 255th character goes", std::string(255, 'x') + family,
         std::string(255, 'x')},
    };
    for (const auto& c : cases) {
        const auto message = decodeText(responseText(R"(,"detail":)" + jsonString(c.detail)));
        EXPECT_EQ(message.bodyIf<TessaroBridgeAgentResponse>()->detail, c.kept) << c.name;
    }
}

TEST(TessaroBridgeAgentMessages, EncodeLeavesAbsentOptionalsOut) {
    const auto id = *Uuid::parse(requestIDText);
    const TessaroBridgeAgentRequest request{id, std::nullopt,
                                            TessaroBridgeAgentOperation::performance, std::nullopt};
    EXPECT_EQ(request.toJson().dump(),
              R"({"requestID":")" + requestIDText + R"(","operation":"performance"})");
    const TessaroBridgeAgentResponse response{id, TessaroBridgeAgentResponseStatus::rejected,
                                              std::vector<std::uint8_t>{}, "No iPad."};
    EXPECT_EQ(response.toJson().dump(),
              R"({"requestID":")" + requestIDText +
                  R"(","status":"rejected","payload":"","detail":"No iPad."})");
}

TEST(TessaroBridgeAgentDevice, ListIsAJsonArrayOfDevices) {
    const std::vector<TessaroBridgeAgentDevice> devices{
        {"ipad-stage-left",
         "Stage Left iPad",
         {TessaroBridgeCapability::midi, TessaroBridgeCapability::osc,
          TessaroBridgeCapability::agentAPI}},
        {"ipad-2", "Keys", {TessaroBridgeCapability::osc}},
    };
    const auto bytes = TessaroBridgeAgentDevice::encodeList(devices);
    EXPECT_EQ(
        std::string(bytes.begin(), bytes.end()),
        R"([{"peerID":"ipad-stage-left","displayName":"Stage Left iPad","capabilities":["midi","osc","agentAPI"]},{"peerID":"ipad-2","displayName":"Keys","capabilities":["osc"]}])");
    EXPECT_EQ(TessaroBridgeAgentDevice::decodeList(bytes), devices);
    const auto empty = TessaroBridgeAgentDevice::encodeList({});
    EXPECT_EQ(std::string(empty.begin(), empty.end()), "[]");
}

TEST(TessaroBridgeAgentDevice, DecodingChecksOnlyTheForm) {
    struct Case {
        std::string text;
        std::string outcome;
    };
    const Case cases[] = {
        {R"([{"displayName":"","peerID":"","capabilities":[],"x":1}])", std::string(ok)},
        {R"([{"peerID":"a","displayName":"b","capabilities":["video"]}])",
         std::string(decodingFailure)},
        {R"([{"peerID":"a","capabilities":["midi"]}])", std::string(decodingFailure)},
        {R"({"peerID":"a","displayName":"b","capabilities":["midi"]})",
         std::string(decodingFailure)},
        {R"([1])", std::string(decodingFailure)},
        {"[", std::string(decodingFailure)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcomeOf([&] { TessaroBridgeAgentDevice::decodeList(bytesOf(c.text)); }),
                  c.outcome)
            << c.text;
    }
}

} // namespace
} // namespace varnello
