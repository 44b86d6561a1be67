#pragma once

#include <cstddef>
#include <cstdint>

namespace varnello {

// Limits of the wire protocol shared by both peers.

// The only protocol version a hello may carry.
inline constexpr std::int64_t supportedProtocolVersion = 1;
// Largest frame payload, in bytes.
inline constexpr std::size_t maximumFrameBytes = 0x10000;
// Longest MIDI byte sequence in one command.
inline constexpr std::size_t maximumMIDIBytes = 256;
// Longest OSC address, in UTF-8 bytes.
inline constexpr std::size_t maximumOSCAddressBytes = 1024;
// Largest agent request or response payload, in bytes after base64 decoding.
inline constexpr std::size_t maximumAgentPayloadBytes = 46 * 1024;
// Longest peerID, displayName or targetPeerID, in UTF-8 bytes.
inline constexpr std::size_t maximumPeerTextBytes = 255;
// Longest detail text, in user-perceived characters (grapheme clusters).
inline constexpr std::size_t maximumDetailCharacters = 255;

} // namespace varnello
