// Decodes arbitrary bytes as one frame payload. Checks that every failure is one
// of the two typed errors and that a decoded message encodes to a payload that
// decodes to the same message and encodes to the same bytes again.

#include "protocol/TessaroBridgeDecodingFailure.h"
#include "protocol/TessaroBridgeFrameCodec.h"
#include "protocol/TessaroBridgeWireError.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

namespace {

// The frame of a decoded message, or nothing when it is too large to send: escapes
// in the input may be written shorter than the encoder writes them.
std::optional<std::vector<std::uint8_t>> frameOf(const varnello::TessaroBridgeMessage& message) {
    try {
        return varnello::encodeFrame(message);
    } catch (const varnello::TessaroBridgeWireError& error) {
        if (error.code() != varnello::TessaroBridgeWireError::Code::frameTooLarge) {
            std::abort();
        }
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<varnello::TessaroBridgeMessage> message;
    try {
        message = varnello::decodeMessage(std::span(data, size));
    } catch (const varnello::TessaroBridgeWireError&) {
        return 0;
    } catch (const varnello::TessaroBridgeDecodingFailure&) {
        return 0;
    }
    const auto frame = frameOf(*message);
    if (!frame) {
        return 0;
    }
    // Anything thrown here escapes and is reported: the bridge's own output must decode.
    const auto again = varnello::decodeMessage(std::span(*frame).subspan(4));
    if (!(again == *message) || varnello::encodeFrame(again) != *frame) {
        std::abort();
    }
    return 0;
}
