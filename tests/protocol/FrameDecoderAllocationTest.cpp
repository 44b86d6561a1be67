// Counts heap allocations while the decoder buffers a frame one byte at a time.
// In its own binary because it replaces the global operator new.

#include "protocol/TessaroBridgeFrameDecoder.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>

namespace {
std::atomic<std::size_t> allocations{0};
} // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace varnello {
namespace {

// Allocations made while all but the last byte of `frame` are fed singly.
std::size_t allocationsBufferingAllButLastByte(TessaroBridgeFrameDecoder& decoder,
                                               const std::vector<std::uint8_t>& frame) {
    const std::size_t before = allocations.load();
    for (std::size_t offset = 0; offset + 1 < frame.size(); ++offset) {
        const auto messages = decoder.append(std::span(frame).subspan(offset, 1));
        EXPECT_TRUE(messages.empty());
    }
    return allocations.load() - before;
}

TEST(TessaroBridgeFrameDecoderAllocation, NoAllocationPerByteFedOneAtATime) {
    const auto frame = encodeFrame(
        TessaroBridgeCommand{*Uuid::parse("8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B"),
                             TessaroBridgePayload::midi({0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00})});
    ASSERT_GT(frame.size(), 100u);

    TessaroBridgeFrameDecoder decoder;
    // Growing the empty buffer to the announced size takes a few steps, not one per byte.
    EXPECT_LE(allocationsBufferingAllButLastByte(decoder, frame), 4u);
    EXPECT_EQ(decoder.append(std::span(frame).subspan(frame.size() - 1)).size(), 1u);

    // Later frames of the same size reuse the buffer.
    EXPECT_EQ(allocationsBufferingAllButLastByte(decoder, frame), 0u);
    EXPECT_EQ(decoder.append(std::span(frame).subspan(frame.size() - 1)).size(), 1u);
}

} // namespace
} // namespace varnello
