#pragma once

#include <cstdint>
#include <string_view>

namespace varnello {

// "TVB1" as a big-endian four-character code: the MIDI unique ID of a bridge
// whose identifier does not yield one.
inline constexpr std::uint32_t fallbackMIDIUniqueID = 0x54564231;

// The MIDI source's unique ID, stable for as long as the identity is: the first
// 8 characters of the identity's identifier read as a hexadecimal number (either
// case). fallbackMIDIUniqueID when they are empty, hold anything but hexadecimal
// digits, or read as 0. Thread-safe.
std::uint32_t midiUniqueID(std::string_view identityID);

} // namespace varnello
