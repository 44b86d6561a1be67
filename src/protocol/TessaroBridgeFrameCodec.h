#pragma once

#include "protocol/TessaroBridgeMessage.h"

#include <cstdint>
#include <span>
#include <vector>

namespace varnello {

// Frames on the stream: a 4-byte big-endian payload length (1 to 65536), then
// the compact UTF-8 JSON text of one message. Thread-safe.

// One whole frame. Throws the TessaroBridgeWireError of a command payload that
// fails its checks, or frameTooLarge(size) when the JSON text is longer than
// 65536 bytes.
std::vector<std::uint8_t> encodeFrame(const TessaroBridgeMessage& message);

// The message of one frame payload, with every decode-time check. Throws
// TessaroBridgeDecodingFailure or TessaroBridgeWireError.
TessaroBridgeMessage decodeMessage(std::span<const std::uint8_t> payload);

} // namespace varnello
