#pragma once

#include "protocol/TessaroBridgeFrameDecoder.h"
#include "protocol/TessaroBridgeMessage.h"
#include "support/Uuid.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnello::testing {

// One frame around the given JSON text, written by hand so that tests can send
// what the bridge's own encoder never would.
inline std::vector<std::uint8_t> frameOf(std::string_view json) {
    const auto size = static_cast<std::uint32_t>(json.size());
    // Sized once up front: growing a 4-byte vector trips a false GCC 12 array-bounds warning.
    std::vector<std::uint8_t> frame(4 + json.size());
    frame[0] = static_cast<std::uint8_t>(size >> 24);
    frame[1] = static_cast<std::uint8_t>(size >> 16);
    frame[2] = static_cast<std::uint8_t>(size >> 8);
    frame[3] = static_cast<std::uint8_t>(size);
    std::copy(json.begin(), json.end(), frame.begin() + 4);
    return frame;
}

inline std::vector<std::uint8_t> framesOf(const std::vector<std::string>& jsons) {
    std::vector<std::uint8_t> bytes;
    for (const auto& json : jsons) {
        const auto frame = frameOf(json);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

// Every message in a byte stream of whole frames.
inline std::vector<TessaroBridgeMessage> messagesIn(const std::vector<std::uint8_t>& bytes) {
    TessaroBridgeFrameDecoder decoder;
    return decoder.append(bytes);
}

inline Uuid uuidOf(std::string_view text) {
    return *Uuid::parse(text);
}

inline std::string tessaroHelloJson(std::string_view peerID, std::string_view capabilities,
                                    std::string_view role = "tessaro") {
    return R"({"type":"hello","body":{"role":")" + std::string(role) +
           R"(","protocolVersion":1,"peerID":")" + std::string(peerID) +
           R"(","displayName":"iPad )" + std::string(peerID) + R"(","capabilities":)" +
           std::string(capabilities) + "}}";
}

inline std::string oscCommandJson(std::string_view id, std::string_view address = "/cue/1/go") {
    return R"({"type":"command","body":{"id":")" + std::string(id) +
           R"(","payload":{"type":"osc","address":")" + std::string(address) + R"("}}})";
}

inline std::string agentResponseJson(std::string_view requestID, std::string_view status) {
    return R"({"type":"agentResponse","body":{"requestID":")" + std::string(requestID) +
           R"(","status":")" + std::string(status) + R"(","payload":"AQID","detail":"done"}})";
}

inline std::string agentRequestJson(std::string_view requestID, std::string_view operation,
                                    std::string_view target = {}) {
    std::string json =
        R"({"type":"agentRequest","body":{"requestID":")" + std::string(requestID) + R"(",)";
    if (!target.empty()) {
        json += R"("targetPeerID":")" + std::string(target) + R"(",)";
    }
    return json + R"("operation":")" + std::string(operation) + R"("}})";
}

} // namespace varnello::testing
