#include "protocol/TessaroBridgeFrameCodec.h"

#include "ProtocolTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace varnello {
namespace {

using namespace varnello::testing;

const Uuid commandID = *Uuid::parse("8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B");

// A rejected acknowledgement whose JSON text is exactly `size` bytes long.
TessaroBridgeAcknowledgement acknowledgementOfSize(std::size_t size) {
    TessaroBridgeAcknowledgement acknowledgement{commandID, TessaroBridgeAckStatus::rejected, ""};
    const std::size_t base = TessaroBridgeMessage(acknowledgement).toJson().dump().size();
    acknowledgement.detail = std::string(size - base, 'x');
    return acknowledgement;
}

TEST(EncodeFrame, PrefixesTheJsonTextWithItsBigEndianLength) {
    const auto hello = TessaroBridgeHello::make(TessaroBridgePeerRole::bridge, 1, "id",
                                                "Studio Mac", {TessaroBridgeCapability::midi});
    const std::string json =
        R"({"type":"hello","body":{"role":"bridge","protocolVersion":1,"peerID":"id","displayName":"Studio Mac","capabilities":["midi"]}})";
    EXPECT_EQ(encodeFrame(hello), frameOf(json));
    ASSERT_LT(json.size(), 256u);
    EXPECT_EQ(encodeFrame(hello)[3], json.size());
}

TEST(EncodeFrame, WritesMultiByteLengthsMostSignificantFirst) {
    const auto frame = encodeFrame(acknowledgementOfSize(0x1234));
    ASSERT_EQ(frame.size(), 4u + 0x1234);
    EXPECT_EQ(frame[0], 0x00);
    EXPECT_EQ(frame[1], 0x00);
    EXPECT_EQ(frame[2], 0x12);
    EXPECT_EQ(frame[3], 0x34);
}

TEST(EncodeFrame, FramesUpTo65536BytesOfJson) {
    const auto largest = encodeFrame(acknowledgementOfSize(65536));
    ASSERT_EQ(largest.size(), 65540u);
    EXPECT_EQ((std::vector<std::uint8_t>(largest.begin(), largest.begin() + 4)),
              (std::vector<std::uint8_t>{0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(decodeMessage(std::span(largest).subspan(4)),
              TessaroBridgeMessage(acknowledgementOfSize(65536)));

    try {
        encodeFrame(acknowledgementOfSize(65537));
        FAIL() << "a 65537-byte frame was produced";
    } catch (const TessaroBridgeWireError& error) {
        EXPECT_EQ(error, TessaroBridgeWireError::frameTooLarge(65537));
        EXPECT_EQ(error.message(), "The Bridge frame of 65537 bytes is too large.");
    }
}

TEST(EncodeFrame, ReplacesTextThatIsNotUtf8SoThePeerGetsValidJson) {
    const TessaroBridgeAcknowledgement acknowledgement{commandID, TessaroBridgeAckStatus::rejected,
                                                       std::string("bad \xFF byte")};
    const auto frame = encodeFrame(acknowledgement);
    const auto decoded = decodeMessage(std::span(frame).subspan(4));
    EXPECT_EQ(decoded.bodyIf<TessaroBridgeAcknowledgement>()->detail, "bad \xEF\xBF\xBD byte");
}

TEST(DecodeMessage, DecodesOnePayload) {
    const auto message = decodeText(
        R"({"type":"command","body":{"id":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","payload":{"type":"midi","bytes":[144,60,100]}}})");
    EXPECT_EQ(message, TessaroBridgeMessage(TessaroBridgeCommand{
                           commandID, TessaroBridgePayload::midi({144, 60, 100})}));
}

} // namespace
} // namespace varnello
