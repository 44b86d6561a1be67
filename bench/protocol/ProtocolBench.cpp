// Decoding throughput of the frame decoder on a stream of typical commands,
// fed whole and one byte at a time, and the cost of framing an acknowledgement.

#include "protocol/TessaroBridgeFrameDecoder.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <vector>

namespace varnello {
namespace {

constexpr std::size_t commandsPerStream = 64;

std::vector<std::uint8_t> commandStream() {
    std::vector<std::uint8_t> stream;
    for (std::size_t index = 0; index < commandsPerStream; ++index) {
        const auto payload = index % 2 == 0
                                 ? TessaroBridgePayload::midi({0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00})
                                 : TessaroBridgePayload::osc("/cue/12/go");
        const auto frame = encodeFrame(TessaroBridgeCommand{Uuid::random(), payload});
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

void decodeWholeStream(benchmark::State& state) {
    const auto stream = commandStream();
    TessaroBridgeFrameDecoder decoder;
    for (auto _ : state) {
        auto messages = decoder.append(stream);
        benchmark::DoNotOptimize(messages);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * commandsPerStream));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(decodeWholeStream);

void decodeOneByteAtATime(benchmark::State& state) {
    const auto stream = commandStream();
    TessaroBridgeFrameDecoder decoder;
    for (auto _ : state) {
        for (std::size_t offset = 0; offset < stream.size(); ++offset) {
            auto messages = decoder.append(std::span(stream).subspan(offset, 1));
            benchmark::DoNotOptimize(messages);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * commandsPerStream));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(decodeOneByteAtATime);

void encodeAcknowledgementFrame(benchmark::State& state) {
    const TessaroBridgeMessage acknowledgement =
        TessaroBridgeAcknowledgement{Uuid::random(), TessaroBridgeAckStatus::duplicate,
                                     "This command has already been performed."};
    for (auto _ : state) {
        auto frame = encodeFrame(acknowledgement);
        benchmark::DoNotOptimize(frame);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(encodeAcknowledgementFrame);

} // namespace
} // namespace varnello
