#pragma once

#include "protocol/TessaroBridgeEnumerations.h"
#include "protocol/TessaroBridgeJson.h"

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace varnello {

// One connected iPad as listed to agents; the payload of the answer to a
// devices request is the JSON text of an array of these. Keyed by peerID.
// Decoding checks nothing beyond the JSON form. A plain value. Thread-safe.
struct TessaroBridgeAgentDevice {
    std::string peerID;
    std::string displayName;
    std::set<TessaroBridgeCapability> capabilities;

    TessaroBridgeJson toJson() const;
    // Throws TessaroBridgeDecodingFailure.
    static TessaroBridgeAgentDevice fromJson(const TessaroBridgeJson& json);

    // The compact JSON text of an array of devices, as bytes for a response payload.
    static std::vector<std::uint8_t>
    encodeList(const std::vector<TessaroBridgeAgentDevice>& devices);
    // Throws TessaroBridgeDecodingFailure.
    static std::vector<TessaroBridgeAgentDevice> decodeList(std::span<const std::uint8_t> text);

    friend bool operator==(const TessaroBridgeAgentDevice&,
                           const TessaroBridgeAgentDevice&) = default;
};

} // namespace varnello
