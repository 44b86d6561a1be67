#pragma once

#include "protocol/TessaroBridgeDecodingFailure.h"
#include "protocol/TessaroBridgeFrameCodec.h"
#include "protocol/TessaroBridgeWireError.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnello {

// Failing comparisons print messages as their JSON text.
inline void PrintTo(const TessaroBridgeMessage& message, std::ostream* stream) {
    try {
        *stream << message.toJson().dump();
    } catch (const TessaroBridgeWireError& error) {
        *stream << "(unencodable: " << error.message() << ")";
    }
}

} // namespace varnello

namespace varnello::testing {

inline std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline TessaroBridgeMessage decodeText(std::string_view json) {
    return decodeMessage(bytesOf(json));
}

// "ok" when `action` returns, the exact message of a TessaroBridgeWireError,
// or "decoding failure"; lets one table hold every outcome.
inline constexpr std::string_view ok = "ok";
inline constexpr std::string_view decodingFailure = "decoding failure";

template <typename Action> std::string outcomeOf(Action&& action) {
    try {
        action();
        return std::string(ok);
    } catch (const TessaroBridgeWireError& error) {
        return error.message();
    } catch (const TessaroBridgeDecodingFailure&) {
        return std::string(decodingFailure);
    }
}

// A frame of `json` with its 4-byte big-endian length.
inline std::vector<std::uint8_t> frameOf(std::string_view json) {
    const auto size = static_cast<std::uint32_t>(json.size());
    std::vector<std::uint8_t> frame{
        static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
        static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
    frame.insert(frame.end(), json.begin(), json.end());
    return frame;
}

inline std::string repeated(std::string_view piece, std::size_t count) {
    std::string text;
    for (std::size_t index = 0; index < count; ++index) {
        text += piece;
    }
    return text;
}

} // namespace varnello::testing
