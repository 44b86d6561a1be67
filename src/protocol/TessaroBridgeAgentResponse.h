#pragma once

#include "protocol/TessaroBridgeEnumerations.h"
#include "protocol/TessaroBridgeJson.h"
#include "support/Uuid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnello {

// The answer to one agent request. Keyed by requestID. A plain value. Thread-safe.
struct TessaroBridgeAgentResponse {
    Uuid requestID;
    TessaroBridgeAgentResponseStatus status = TessaroBridgeAgentResponseStatus::accepted;
    std::optional<std::vector<std::uint8_t>> payload;
    std::optional<std::string> detail;

    TessaroBridgeJson toJson() const;
    // Checks the payload size and cuts a present detail to 255 characters.
    // Throws TessaroBridgeDecodingFailure or TessaroBridgeWireError.
    static TessaroBridgeAgentResponse fromJson(const TessaroBridgeJson& json);

    friend bool operator==(const TessaroBridgeAgentResponse&,
                           const TessaroBridgeAgentResponse&) = default;
};

} // namespace varnello
