#pragma once

#include "protocol/TessaroBridgeEnumerations.h"
#include "protocol/TessaroBridgeJson.h"
#include "support/Uuid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnello {

// One request of a local agent, answered by the bridge (devices) or relayed to
// the iPad that offers the agent API. Keyed by requestID. A plain value.
// Thread-safe.
struct TessaroBridgeAgentRequest {
    Uuid requestID;
    std::optional<std::string> targetPeerID;
    TessaroBridgeAgentOperation operation = TessaroBridgeAgentOperation::devices;
    std::optional<std::vector<std::uint8_t>> payload;

    TessaroBridgeJson toJson() const;
    // Checks a present targetPeerID (1 to 255 UTF-8 bytes) and the payload size.
    // Throws TessaroBridgeDecodingFailure or TessaroBridgeWireError.
    static TessaroBridgeAgentRequest fromJson(const TessaroBridgeJson& json);

    friend bool operator==(const TessaroBridgeAgentRequest&,
                           const TessaroBridgeAgentRequest&) = default;
};

} // namespace varnello
