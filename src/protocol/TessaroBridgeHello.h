#pragma once

#include "protocol/TessaroBridgeEnumerations.h"
#include "protocol/TessaroBridgeJson.h"

#include <cstdint>
#include <set>
#include <string>

namespace varnello {

// The first message of each side of an iPad connection. Only `make` builds one,
// so a hello value always passes validateHello. A plain value. Thread-safe.
class TessaroBridgeHello {
public:
    // Throws the TessaroBridgeWireError of validateHello.
    static TessaroBridgeHello make(TessaroBridgePeerRole role, std::int64_t protocolVersion,
                                   std::string peerID, std::string displayName,
                                   std::set<TessaroBridgeCapability> capabilities);

    TessaroBridgePeerRole role() const noexcept { return role_; }
    std::int64_t protocolVersion() const noexcept { return protocolVersion_; }
    const std::string& peerID() const noexcept { return peerID_; }
    const std::string& displayName() const noexcept { return displayName_; }
    const std::set<TessaroBridgeCapability>& capabilities() const noexcept { return capabilities_; }

    TessaroBridgeJson toJson() const;
    // Reads role, protocolVersion, peerID, displayName, capabilities, then
    // runs `make`. Throws TessaroBridgeDecodingFailure or TessaroBridgeWireError.
    static TessaroBridgeHello fromJson(const TessaroBridgeJson& json);

    friend bool operator==(const TessaroBridgeHello&, const TessaroBridgeHello&) = default;

private:
    TessaroBridgeHello(TessaroBridgePeerRole role, std::int64_t protocolVersion, std::string peerID,
                       std::string displayName, std::set<TessaroBridgeCapability> capabilities);

    TessaroBridgePeerRole role_;
    std::int64_t protocolVersion_;
    std::string peerID_;
    std::string displayName_;
    std::set<TessaroBridgeCapability> capabilities_;
};

} // namespace varnello
