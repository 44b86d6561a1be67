#include "protocol/TessaroBridgeFrameCodec.h"

#include "protocol/TessaroBridgeConstants.h"
#include "protocol/TessaroBridgeDecodingFailure.h"
#include "protocol/TessaroBridgeWireError.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace varnello {

std::vector<std::uint8_t> encodeFrame(const TessaroBridgeMessage& message) {
    // Texts that are not well-formed UTF-8 (a system error text, say) are sent
    // with U+FFFD in their place, so that the peer always receives valid JSON.
    const std::string text =
        message.toJson().dump(-1, ' ', false, TessaroBridgeJson::error_handler_t::replace);
    if (text.size() > maximumFrameBytes) {
        throw TessaroBridgeWireError::frameTooLarge(text.size());
    }
    const auto length = static_cast<std::uint32_t>(text.size());
    std::vector<std::uint8_t> frame(4 + text.size());
    frame[0] = static_cast<std::uint8_t>(length >> 24);
    frame[1] = static_cast<std::uint8_t>(length >> 16);
    frame[2] = static_cast<std::uint8_t>(length >> 8);
    frame[3] = static_cast<std::uint8_t>(length);
    std::copy(text.begin(), text.end(), frame.begin() + 4);
    return frame;
}

TessaroBridgeMessage decodeMessage(std::span<const std::uint8_t> payload) {
    try {
        return TessaroBridgeMessage::fromJson(
            TessaroBridgeJson::parse(payload.begin(), payload.end()));
    } catch (const nlohmann::json::exception& error) {
        throw TessaroBridgeDecodingFailure(error.what());
    }
}

} // namespace varnello
