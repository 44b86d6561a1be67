#include "ProtocolTestSupport.h"
#include "protocol/TessaroBridgeMessage.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace varnello {
namespace {

using namespace varnello::testing;

const Uuid commandID = *Uuid::parse("8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B");
const Uuid requestID = *Uuid::parse("4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A");

std::string encodedText(const TessaroBridgeMessage& message) {
    return message.toJson().dump();
}

struct ExampleCase {
    std::string text;
    TessaroBridgeMessage message;
};

// Each text is what a peer sends; it decodes to the value and the value encodes
// back to the same text.
TEST(TessaroBridgeMessageJson, TypicalMessagesDecodeAndEncodeBackToTheSameText) {
    const ExampleCase cases[] = {
        {R"({"type":"hello","body":{"role":"tessaro","protocolVersion":1,"peerID":"ipad-stage-left","displayName":"Stage Left iPad","capabilities":["midi","osc","agentAPI"]}})",
         TessaroBridgeHello::make(TessaroBridgePeerRole::tessaro, 1, "ipad-stage-left",
                                  "Stage Left iPad",
                                  {TessaroBridgeCapability::midi, TessaroBridgeCapability::osc,
                                   TessaroBridgeCapability::agentAPI})},
        {R"({"type":"command","body":{"id":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","payload":{"type":"midi","bytes":[144,60,100,128,60,0]}}})",
         TessaroBridgeCommand{commandID, TessaroBridgePayload::midi({144, 60, 100, 128, 60, 0})}},
        {R"({"type":"command","body":{"id":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","payload":{"type":"osc","address":"/cue/12/go"}}})",
         TessaroBridgeCommand{commandID, TessaroBridgePayload::osc("/cue/12/go")}},
        {R"({"type":"acknowledgement","body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"accepted"}})",
         TessaroBridgeAcknowledgement{commandID, TessaroBridgeAckStatus::accepted, std::nullopt}},
        {R"({"type":"acknowledgement","body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"duplicate","detail":"This command has already been performed."}})",
         TessaroBridgeAcknowledgement{commandID, TessaroBridgeAckStatus::duplicate,
                                      "This command has already been performed."}},
        {R"({"type":"agentRequest","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A","operation":"devices"}})",
         TessaroBridgeAgentRequest{requestID, std::nullopt, TessaroBridgeAgentOperation::devices,
                                   std::nullopt}},
        {R"({"type":"agentRequest","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A","targetPeerID":"ipad-stage-left","operation":"execute","payload":"AQID"}})",
         TessaroBridgeAgentRequest{requestID, "ipad-stage-left",
                                   TessaroBridgeAgentOperation::execute,
                                   std::vector<std::uint8_t>{1, 2, 3}}},
        {R"({"type":"agentResponse","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A","status":"accepted","payload":"AQID"}})",
         TessaroBridgeAgentResponse{requestID, TessaroBridgeAgentResponseStatus::accepted,
                                    std::vector<std::uint8_t>{1, 2, 3}, std::nullopt}},
        {R"({"type":"agentResponse","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A","status":"timeout","detail":"Varnello did not respond within 10 seconds."}})",
         TessaroBridgeAgentResponse{requestID, TessaroBridgeAgentResponseStatus::timeout,
                                    std::nullopt, "Varnello did not respond within 10 seconds."}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeText(c.text), c.message) << c.text;
        EXPECT_EQ(encodedText(c.message), c.text);
    }
}

TEST(TessaroBridgeMessageJson, TypeNamesTheBody) {
    const auto message = decodeText(
        R"({"type":"acknowledgement","body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"rejected","detail":"no"}})");
    EXPECT_EQ(message.type(), TessaroBridgeMessage::MessageType::acknowledgement);
    ASSERT_NE(message.bodyIf<TessaroBridgeAcknowledgement>(), nullptr);
    EXPECT_EQ(message.bodyIf<TessaroBridgeCommand>(), nullptr);
    EXPECT_EQ(message.bodyIf<TessaroBridgeAcknowledgement>()->status,
              TessaroBridgeAckStatus::rejected);
}

TEST(TessaroBridgeMessageJson, ReadsUuidsInEitherCaseAndWritesUpperCase) {
    const auto message = decodeText(
        R"({"type":"acknowledgement","body":{"commandID":"8e6f2c1a-5b3d-4e7f-9a0b-1c2d3e4f5a6b","status":"accepted"}})");
    EXPECT_EQ(message.bodyIf<TessaroBridgeAcknowledgement>()->commandID, commandID);
    EXPECT_EQ(
        encodedText(message),
        R"({"type":"acknowledgement","body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"accepted"}})");
}

TEST(TessaroBridgeMessageJson, NullAndMissingOptionalsAreAbsent) {
    const auto withNull = decodeText(
        R"({"type":"agentResponse","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A","status":"unavailable","payload":null,"detail":null}})");
    const auto missing = decodeText(
        R"({"type":"agentResponse","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A","status":"unavailable"}})");
    EXPECT_EQ(withNull, missing);
    EXPECT_FALSE(withNull.bodyIf<TessaroBridgeAgentResponse>()->payload.has_value());
    EXPECT_FALSE(withNull.bodyIf<TessaroBridgeAgentResponse>()->detail.has_value());

    const auto request = decodeText(
        R"({"type":"agentRequest","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A","targetPeerID":null,"operation":"library"}})");
    EXPECT_FALSE(request.bodyIf<TessaroBridgeAgentRequest>()->targetPeerID.has_value());

    const auto acknowledgement = decodeText(
        R"({"type":"acknowledgement","body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"accepted","detail":null}})");
    EXPECT_FALSE(acknowledgement.bodyIf<TessaroBridgeAcknowledgement>()->detail.has_value());
    EXPECT_FALSE(acknowledgement.toJson()["body"].contains("detail"));
}

TEST(TessaroBridgeMessageJson, IgnoresExtraKeysEverywhere) {
    const auto message = decodeText(
        R"({"version":3,"type":"command","body":{"priority":"high","id":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","payload":{"type":"osc","address":"/cue/12/go","bytes":[1],"args":[]}},"sent":"now"})");
    EXPECT_EQ(message, TessaroBridgeMessage(TessaroBridgeCommand{
                           commandID, TessaroBridgePayload::osc("/cue/12/go")}));
}

TEST(TessaroBridgeMessageJson, ReadsKeysInAnyOrder) {
    const auto message = decodeText(
        R"({"body":{"capabilities":["osc"],"displayName":"Mac","peerID":"mac","protocolVersion":1,"role":"bridge"},"type":"hello"})");
    EXPECT_EQ(message,
              TessaroBridgeMessage(TessaroBridgeHello::make(
                  TessaroBridgePeerRole::bridge, 1, "mac", "Mac", {TessaroBridgeCapability::osc})));
}

TEST(TessaroBridgeMessageJson, UnknownEnumerationValuesFailTheWholeMessage) {
    const std::string cases[] = {
        R"({"type":"Hello","body":{"role":"tessaro","protocolVersion":1,"peerID":"a","displayName":"b","capabilities":["midi"]}})",
        R"({"type":"goodbye","body":{}})",
        R"({"type":"hello","body":{"role":"Tessaro","protocolVersion":1,"peerID":"a","displayName":"b","capabilities":["midi"]}})",
        R"({"type":"hello","body":{"role":"tessaro","protocolVersion":1,"peerID":"a","displayName":"b","capabilities":["midi","video"]}})",
        R"({"type":"command","body":{"id":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","payload":{"type":"sysex","bytes":[240]}}})",
        R"({"type":"command","body":{"id":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","payload":{"type":"MIDI","bytes":[144,60,100]}}})",
        R"({"type":"acknowledgement","body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"ACCEPTED"}})",
        R"({"type":"agentRequest","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A","operation":"delete"}})",
        R"({"type":"agentResponse","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A","status":"timedOut"}})",
    };
    for (const auto& text : cases) {
        EXPECT_EQ(outcomeOf([&] { decodeText(text); }), decodingFailure) << text;
    }
}

TEST(TessaroBridgeMessageJson, JsonThatDoesNotFitTheModelIsADecodingFailure) {
    const std::string cases[] = {
        "",
        "not json",
        R"({"type":"acknowledgement")",
        R"({"type":"acknowledgement","body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"accepted"}} x)",
        "[]",
        "null",
        "{}",
        R"({"body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"accepted"}})",
        R"({"type":"acknowledgement"})",
        R"({"type":"acknowledgement","body":null})",
        R"({"type":"acknowledgement","body":[]})",
        R"({"type":7,"body":{}})",
        // A body of another kind is never tried.
        R"({"type":"command","body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"accepted"}})",
        // UUID forms other than 8-4-4-4-12.
        R"({"type":"acknowledgement","body":{"commandID":"8E6F2C1A5B3D4E7F9A0B1C2D3E4F5A6B","status":"accepted"}})",
        R"({"type":"acknowledgement","body":{"commandID":"{8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B}","status":"accepted"}})",
        R"({"type":"acknowledgement","body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6","status":"accepted"}})",
        R"({"type":"acknowledgement","body":{"commandID":"GE6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"accepted"}})",
        R"({"type":"acknowledgement","body":{"commandID":" 8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"accepted"}})",
        R"({"type":"acknowledgement","body":{"commandID":42,"status":"accepted"}})",
        R"({"type":"acknowledgement","body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","status":"accepted","detail":5}})",
        // Strings that are not UTF-8 never reach the model.
        "{\"type\":\"acknowledgement\",\"body\":{\"commandID\":\"8E6F2C1A-5B3D-4E7F-9A0B-"
        "1C2D3E4F5A6B\",\"status\":\"rejected\",\"detail\":\"\xFF\"}}",
    };
    for (const auto& text : cases) {
        EXPECT_EQ(outcomeOf([&] { decodeText(text); }), decodingFailure) << text;
    }
}

TEST(TessaroBridgeMessageJson, EncodingACommandRunsThePayloadChecks) {
    struct Case {
        TessaroBridgePayload payload;
        std::string outcome;
    };
    const Case cases[] = {
        {TessaroBridgePayload::midi({144, 60}),
         "The MIDI message requires 3 bytes, but contains 2."},
        {TessaroBridgePayload::midi({}), "The MIDI message is empty."},
        {TessaroBridgePayload::osc("cue"), "The OSC address is invalid."},
        {TessaroBridgePayload::osc("/" + std::string(1024, 'a')), "The OSC address is too long."},
        {TessaroBridgePayload::osc("/ok"), std::string(ok)},
    };
    for (const auto& c : cases) {
        const TessaroBridgeMessage message = TessaroBridgeCommand{commandID, c.payload};
        EXPECT_EQ(outcomeOf([&] { message.toJson(); }), c.outcome);
        EXPECT_EQ(outcomeOf([&] { encodeFrame(message); }), c.outcome);
    }
}

} // namespace
} // namespace varnello
