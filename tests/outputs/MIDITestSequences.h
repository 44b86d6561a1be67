#pragma once

#include <cstdint>
#include <vector>

namespace varnello::test {

using MIDIMessage = std::vector<std::uint8_t>;

inline std::vector<std::uint8_t> concatenated(const std::vector<MIDIMessage>& messages) {
    std::vector<std::uint8_t> bytes;
    for (const MIDIMessage& message : messages) {
        bytes.insert(bytes.end(), message.begin(), message.end());
    }
    return bytes;
}

// The sequences the real backends must carry, each as the messages it holds.
inline std::vector<MIDIMessage> noteOn() {
    return {{0x90, 0x3C, 0x64}};
}

inline std::vector<MIDIMessage> programChangeThenControlChange() {
    return {{0xC5, 0x07}, {0xB5, 0x07, 0x64}};
}

// 84 three-byte and 2 two-byte messages of every channel voice kind over all
// channels: 256 bytes, the longest sequence a command may carry.
inline std::vector<MIDIMessage> longestSequence() {
    const std::uint8_t threeByteKinds[] = {0x80, 0x90, 0xA0, 0xB0, 0xE0};
    std::vector<MIDIMessage> messages;
    for (int i = 0; i < 84; ++i) {
        const auto kind = threeByteKinds[i % 5];
        const auto channel = static_cast<std::uint8_t>(i % 16);
        const auto first = static_cast<std::uint8_t>((i * 5 + 1) & 0x7F);
        const auto second = static_cast<std::uint8_t>((127 - i) & 0x7F);
        messages.push_back({static_cast<std::uint8_t>(kind | channel), first, second});
    }
    messages.push_back({0xC9, 0x7F});
    messages.push_back({0xDF, 0x00});
    return messages;
}

} // namespace varnello::test
