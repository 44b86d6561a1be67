#include "protocol/TessaroBridgePayload.h"

#include "ProtocolTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace varnello {
namespace {

using namespace varnello::testing;

std::string commandText(std::string_view payload) {
    return R"({"type":"command","body":{"id":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","payload":)" +
           std::string(payload) + "}}";
}

TessaroBridgePayload payloadOf(std::string_view payload) {
    return decodeText(commandText(payload)).bodyIf<TessaroBridgeCommand>()->payload;
}

TEST(TessaroBridgePayload, ReadsOnlyTheKeyOfItsType) {
    EXPECT_EQ(payloadOf(R"({"type":"osc","address":"/cue/12/go","bytes":[1]})"),
              TessaroBridgePayload::osc("/cue/12/go"));
    EXPECT_EQ(payloadOf(R"({"type":"midi","bytes":[144,60,100],"address":5})"),
              TessaroBridgePayload::midi({144, 60, 100}));
}

TEST(TessaroBridgePayload, DecodingFailsOnFormAndOnChecks) {
    struct Case {
        std::string payload;
        std::string outcome;
    };
    const Case cases[] = {
        {R"({"type":"midi","bytes":[144,60,100]})", std::string(ok)},
        {R"({"type":"midi","bytes":[144.0,60,100]})", std::string(ok)},
        {R"({"type":"midi","address":"/x"})", std::string(decodingFailure)},
        {R"({"type":"osc","bytes":[144,60,100]})", std::string(decodingFailure)},
        {R"({"bytes":[144,60,100]})", std::string(decodingFailure)},
        {R"({"type":"midi","bytes":[144,256,0]})", std::string(decodingFailure)},
        {R"({"type":"midi","bytes":[144,-1,0]})", std::string(decodingFailure)},
        {R"({"type":"midi","bytes":[144,60.5,0]})", std::string(decodingFailure)},
        {R"({"type":"midi","bytes":[144,"60",0]})", std::string(decodingFailure)},
        {R"({"type":"midi","bytes":[144,null,0]})", std::string(decodingFailure)},
        {R"({"type":"midi","bytes":"kDxk"})", std::string(decodingFailure)},
        {R"({"type":"midi","bytes":null})", std::string(decodingFailure)},
        {R"({"type":"osc","address":["/x"]})", std::string(decodingFailure)},
        {R"("midi")", std::string(decodingFailure)},
        // A byte out of range is found while reading, before the checks run.
        {R"({"type":"midi","bytes":[248,300]})", std::string(decodingFailure)},
        {R"({"type":"midi","bytes":[144,60]})",
         "The MIDI message requires 3 bytes, but contains 2."},
        {R"({"type":"midi","bytes":[]})", "The MIDI message is empty."},
        {R"({"type":"midi","bytes":[248]})", "The MIDI status byte must be between 80 and EF."},
        {R"({"type":"osc","address":"/cue 1"})", "The OSC address is invalid."},
        {R"({"type":"osc","address":"/cue\u0000"})", "The OSC address is invalid."},
        {R"({"type":"osc","address":""})", "The OSC address is invalid."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcomeOf([&] { decodeText(commandText(c.payload)); }), c.outcome) << c.payload;
    }
}

TEST(TessaroBridgePayload, EncodesOnlyTheKeyOfItsType) {
    EXPECT_EQ(TessaroBridgePayload::midi({192, 5}).toJson().dump(),
              R"({"type":"midi","bytes":[192,5]})");
    EXPECT_EQ(TessaroBridgePayload::osc("/a").toJson().dump(), R"({"type":"osc","address":"/a"})");
}

TEST(TessaroBridgePayload, TellsItsCase) {
    const auto midi = TessaroBridgePayload::midi({144, 1, 2});
    const auto osc = TessaroBridgePayload::osc("/a");
    EXPECT_EQ(midi.type(), TessaroBridgePayload::PayloadType::midi);
    EXPECT_EQ(osc.type(), TessaroBridgePayload::PayloadType::osc);
    ASSERT_NE(midi.midiBytes(), nullptr);
    EXPECT_EQ(*midi.midiBytes(), (std::vector<std::uint8_t>{144, 1, 2}));
    EXPECT_EQ(midi.oscAddress(), nullptr);
    ASSERT_NE(osc.oscAddress(), nullptr);
    EXPECT_EQ(*osc.oscAddress(), "/a");
    EXPECT_EQ(osc.midiBytes(), nullptr);
    EXPECT_NE(midi, osc);
}

} // namespace
} // namespace varnello
