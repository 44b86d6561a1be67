#include "protocol/TessaroBridgeFrameDecoder.h"

#include "ProtocolTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>

namespace varnello {
namespace {

using namespace varnello::testing;
using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<TessaroBridgeMessage>;

const Uuid commandID = *Uuid::parse("8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B");
const Uuid requestID = *Uuid::parse("4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A");

Messages sampleMessages() {
    return {
        TessaroBridgeHello::make(
            TessaroBridgePeerRole::tessaro, 1, "ipad-stage-left", "Stage Left iPad",
            {TessaroBridgeCapability::midi, TessaroBridgeCapability::agentAPI}),
        TessaroBridgeCommand{commandID, TessaroBridgePayload::midi({144, 60, 100, 128, 60, 0})},
        TessaroBridgeCommand{requestID, TessaroBridgePayload::osc("/cue/12/go")},
        TessaroBridgeAgentResponse{requestID, TessaroBridgeAgentResponseStatus::accepted,
                                   Bytes(300, 7), std::nullopt},
        TessaroBridgeAcknowledgement{commandID, TessaroBridgeAckStatus::rejected,
                                     "Niet gelukt \xF0\x9F\x98\x80"},
    };
}

struct Stream {
    Bytes bytes;
    std::vector<std::size_t> frameEnds; // offset just past each frame
};

Stream streamOf(const Messages& messages) {
    Stream stream;
    for (const auto& message : messages) {
        const auto frame = encodeFrame(message);
        stream.bytes.insert(stream.bytes.end(), frame.begin(), frame.end());
        stream.frameEnds.push_back(stream.bytes.size());
    }
    return stream;
}

Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

std::size_t framesEndingBy(const Stream& stream, std::size_t offset) {
    std::size_t count = 0;
    while (count < stream.frameEnds.size() && stream.frameEnds[count] <= offset) {
        ++count;
    }
    return count;
}

// Bytes fed so far minus the end of the last complete frame.
std::size_t expectedBuffered(const Stream& stream, std::size_t offset) {
    const std::size_t frames = framesEndingBy(stream, offset);
    return offset - (frames == 0 ? 0 : stream.frameEnds[frames - 1]);
}

// Feeds the stream in chunks ending at `cuts` and checks, after every call,
// which messages came out and how many bytes stayed buffered.
void expectChunkingDecodes(const Stream& stream, const Messages& expected,
                           const std::vector<std::size_t>& cuts) {
    TessaroBridgeFrameDecoder decoder;
    std::size_t from = 0;
    for (const std::size_t to : cuts) {
        const auto messages = decoder.append(std::span(stream.bytes).subspan(from, to - from));
        const std::size_t first = framesEndingBy(stream, from);
        const std::size_t last = framesEndingBy(stream, to);
        ASSERT_EQ(messages.size(), last - first) << "chunk " << from << ".." << to;
        for (std::size_t index = 0; index < messages.size(); ++index) {
            ASSERT_EQ(messages[index], expected[first + index]) << "chunk " << from << ".." << to;
        }
        ASSERT_EQ(decoder.bufferedByteCount(), expectedBuffered(stream, to));
        from = to;
    }
}

TEST(TessaroBridgeFrameDecoder, EverySplitPointGivesTheSameMessages) {
    const auto expected = sampleMessages();
    const auto stream = streamOf(expected);
    for (std::size_t split = 0; split <= stream.bytes.size(); ++split) {
        expectChunkingDecodes(stream, expected, {split, stream.bytes.size()});
    }
}

TEST(TessaroBridgeFrameDecoder, RandomChunkingsGiveTheSameMessages) {
    const auto expected = sampleMessages();
    const auto stream = streamOf(expected);
    std::mt19937 random(20261210);
    for (int trial = 0; trial < 300; ++trial) {
        std::uniform_int_distribution<std::size_t> size(1, trial % 2 == 0 ? 8 : 400);
        std::vector<std::size_t> cuts;
        std::size_t offset = 0;
        while (offset < stream.bytes.size()) {
            offset = std::min(stream.bytes.size(), offset + size(random));
            cuts.push_back(offset);
        }
        expectChunkingDecodes(stream, expected, cuts);
    }
}

TEST(TessaroBridgeFrameDecoder, OneByteAtATimeCompletesEachFrameOnItsLastByte) {
    const auto expected = sampleMessages();
    const auto stream = streamOf(expected);
    std::vector<std::size_t> cuts;
    for (std::size_t offset = 1; offset <= stream.bytes.size(); ++offset) {
        cuts.push_back(offset);
    }
    expectChunkingDecodes(stream, expected, cuts);
}

TEST(TessaroBridgeFrameDecoder, PrefixSplitTwoAndTwo) {
    const auto frame = encodeFrame(sampleMessages()[1]);
    TessaroBridgeFrameDecoder decoder;
    EXPECT_TRUE(decoder.append(slice(frame, 0, 2)).empty());
    EXPECT_EQ(decoder.bufferedByteCount(), 2u);
    EXPECT_TRUE(decoder.append(slice(frame, 2, 4)).empty());
    EXPECT_EQ(decoder.bufferedByteCount(), 4u);
    const auto messages = decoder.append(slice(frame, 4, frame.size()));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], sampleMessages()[1]);
    EXPECT_EQ(decoder.bufferedByteCount(), 0u);
}

TEST(TessaroBridgeFrameDecoder, ThreeFramesAndPartOfAFourthInOneChunk) {
    const auto expected = sampleMessages();
    const auto stream = streamOf(expected);
    const std::size_t cut = stream.frameEnds[2] + 10;
    TessaroBridgeFrameDecoder decoder;
    const auto messages = decoder.append(slice(stream.bytes, 0, cut));
    EXPECT_EQ(messages, Messages(expected.begin(), expected.begin() + 3));
    EXPECT_EQ(decoder.bufferedByteCount(), 10u);
}

TEST(TessaroBridgeFrameDecoder, EmptyChunkChangesNothing) {
    const auto frame = encodeFrame(sampleMessages()[0]);
    TessaroBridgeFrameDecoder decoder;
    EXPECT_TRUE(decoder.append({}).empty());
    EXPECT_EQ(decoder.bufferedByteCount(), 0u);
    EXPECT_TRUE(decoder.append(slice(frame, 0, 7)).empty());
    EXPECT_TRUE(decoder.append({}).empty());
    EXPECT_EQ(decoder.bufferedByteCount(), 7u);
    EXPECT_EQ(decoder.append(slice(frame, 7, frame.size())).size(), 1u);
}

TEST(TessaroBridgeFrameDecoder, AcceptsTheLargestFrameAndKeepsAtMost65539Bytes) {
    TessaroBridgeAcknowledgement acknowledgement{commandID, TessaroBridgeAckStatus::rejected, ""};
    const std::size_t base = TessaroBridgeMessage(acknowledgement).toJson().dump().size();
    acknowledgement.detail = std::string(65536 - base, 'x');
    const auto frame = encodeFrame(acknowledgement);
    ASSERT_EQ(frame.size(), 65540u);

    TessaroBridgeFrameDecoder decoder;
    EXPECT_TRUE(decoder.append(slice(frame, 0, 4)).empty());
    EXPECT_EQ(decoder.bufferedByteCount(), 4u);
    EXPECT_TRUE(decoder.append(slice(frame, 4, frame.size() - 1)).empty());
    EXPECT_EQ(decoder.bufferedByteCount(), 65539u);
    const auto messages = decoder.append(slice(frame, frame.size() - 1, frame.size()));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], TessaroBridgeMessage(acknowledgement));
    EXPECT_EQ(decoder.bufferedByteCount(), 0u);
}

struct FrameErrorCase {
    std::string name;
    std::vector<Bytes> chunks; // the last one fails
    std::string message;
};

TEST(TessaroBridgeFrameDecoder, FrameErrorsEmptyTheBuffer) {
    const auto valid = encodeFrame(sampleMessages()[1]);
    const FrameErrorCase cases[] = {
        {"zero length", {{0, 0, 0, 0}}, "The Bridge frame is invalid."},
        {"zero length with bytes after it",
         {{0, 0, 0, 0, '{', '}', 0, 0, 0, 2}},
         "The Bridge frame is invalid."},
        {"65537 bytes",
         {{0x00, 0x01, 0x00, 0x01}},
         "The Bridge frame of 65537 bytes is too large."},
        {"largest announced length",
         {{0xFF, 0xFF, 0xFF, 0xFF}},
         "The Bridge frame of 4294967295 bytes is too large."},
        {"oversize prefix completed by a later chunk",
         {{0x00, 0x10}, {0x00, 0x00, '{'}},
         "The Bridge frame of 1048576 bytes is too large."},
        {"zero length after a valid frame in the same chunk",
         {concat(valid, {0, 0, 0, 0, 1, 2, 3})},
         "The Bridge frame is invalid."},
        {"zero length completing bytes kept from an earlier call",
         {concat(valid, {0, 0}), {0, 0, 9, 9, 9}},
         "The Bridge frame is invalid."},
        {"oversize after a partial frame completes",
         {slice(valid, 0, 10), concat(slice(valid, 10, valid.size()), {0x7F, 0, 0, 0, 1})},
         "The Bridge frame of 2130706432 bytes is too large."},
    };
    for (const auto& c : cases) {
        TessaroBridgeFrameDecoder decoder;
        for (std::size_t index = 0; index + 1 < c.chunks.size(); ++index) {
            decoder.append(c.chunks[index]);
        }
        EXPECT_EQ(outcomeOf([&] { decoder.append(c.chunks.back()); }), c.message) << c.name;
        EXPECT_EQ(decoder.bufferedByteCount(), 0u) << c.name;
    }
}

TEST(TessaroBridgeFrameDecoder, DecodingErrorsKeepTheBytesAfterTheFailingFrame) {
    const auto valid = encodeFrame(sampleMessages()[1]);
    const auto next = encodeFrame(sampleMessages()[2]);
    const auto noBody = frameOf(R"({"type":"command"})");
    const auto notJson = frameOf("not json");
    const auto badVersion = frameOf(
        R"({"type":"hello","body":{"role":"tessaro","protocolVersion":2,"peerID":"a","displayName":"b","capabilities":["midi"]}})");
    const auto badMIDI = frameOf(
        R"({"type":"command","body":{"id":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B","payload":{"type":"midi","bytes":[144,60]}}})");
    struct Case {
        std::string name;
        Bytes failing;
        std::string outcome;
    };
    const Case cases[] = {
        {"missing body", noBody, std::string(decodingFailure)},
        {"not JSON", notJson, std::string(decodingFailure)},
        {"hello check", badVersion, "Unsupported Varnello Bridge protocol version 2."},
        {"payload check", badMIDI, "The MIDI message requires 3 bytes, but contains 2."},
    };
    for (const auto& c : cases) {
        // A valid frame, the failing frame, one whole frame and 3 bytes of another.
        const Bytes chunk = concat(concat(concat(valid, c.failing), next), slice(next, 0, 3));
        TessaroBridgeFrameDecoder decoder;
        EXPECT_EQ(outcomeOf([&] { decoder.append(chunk); }), c.outcome) << c.name;
        EXPECT_EQ(decoder.bufferedByteCount(), next.size() + 3) << c.name;

        // The kept bytes are exactly the stream after the failing frame.
        const auto resumed = decoder.append(slice(next, 3, next.size()));
        ASSERT_EQ(resumed.size(), 2u) << c.name;
        EXPECT_EQ(resumed[0], sampleMessages()[2]) << c.name;
        EXPECT_EQ(resumed[1], sampleMessages()[2]) << c.name;
        EXPECT_EQ(decoder.bufferedByteCount(), 0u) << c.name;
    }
}

TEST(TessaroBridgeFrameDecoder, DecodingErrorInAFrameCompletedFromKeptBytes) {
    const auto failing = frameOf(R"({"type":"command"})");
    const auto next = encodeFrame(sampleMessages()[0]);
    TessaroBridgeFrameDecoder decoder;
    EXPECT_TRUE(decoder.append(slice(failing, 0, 6)).empty());
    EXPECT_EQ(outcomeOf([&] { decoder.append(concat(slice(failing, 6, failing.size()), next)); }),
              decodingFailure);
    EXPECT_EQ(decoder.bufferedByteCount(), next.size());
}

// A peer must not be able to exhaust the stack with nesting.
TEST(TessaroBridgeFrameDecoder, DeeplyNestedJsonIsADecodingFailure) {
    const std::string nestedBody =
        R"({"type":"hello","body":)" + std::string(30000, '[') + std::string(30000, ']') + "}";
    const std::string unterminated(65536, '[');
    const std::string nestedObjects = repeated(R"({"a":)", 10000) + "1" + std::string(10000, '}');
    for (const auto& payload : {nestedBody, unterminated, nestedObjects}) {
        TessaroBridgeFrameDecoder decoder;
        EXPECT_EQ(outcomeOf([&] { decoder.append(frameOf(payload)); }), decodingFailure);
        EXPECT_EQ(decoder.bufferedByteCount(), 0u);
    }
}

TEST(TessaroBridgeFrameDecoder, NeverKeepsMoreThanOnePartialFrameBetweenCalls) {
    Messages messages;
    for (int index = 0; index < 6; ++index) {
        messages.push_back(TessaroBridgeAgentResponse{
            requestID, TessaroBridgeAgentResponseStatus::accepted,
            Bytes(47104 - static_cast<std::size_t>(index) * 1000, 1), std::nullopt});
    }
    const auto stream = streamOf(messages);
    TessaroBridgeFrameDecoder decoder;
    std::size_t decoded = 0;
    for (std::size_t from = 0; from < stream.bytes.size(); from += 4099) {
        const std::size_t to = std::min(stream.bytes.size(), from + 4099);
        decoded += decoder.append(std::span(stream.bytes).subspan(from, to - from)).size();
        EXPECT_LE(decoder.bufferedByteCount(), 65539u);
        EXPECT_EQ(decoder.bufferedByteCount(), expectedBuffered(stream, to));
    }
    EXPECT_EQ(decoded, messages.size());
}

} // namespace
} // namespace varnello
