#pragma once

#include "protocol/TessaroBridgeEnumerations.h"
#include "protocol/TessaroBridgeJson.h"
#include "support/Uuid.h"

#include <optional>
#include <string>

namespace varnello {

// The bridge's answer to one command. A plain value. Thread-safe.
struct TessaroBridgeAcknowledgement {
    Uuid commandID;
    TessaroBridgeAckStatus status = TessaroBridgeAckStatus::accepted;
    std::optional<std::string> detail;

    TessaroBridgeJson toJson() const;
    // Throws TessaroBridgeDecodingFailure.
    static TessaroBridgeAcknowledgement fromJson(const TessaroBridgeJson& json);

    friend bool operator==(const TessaroBridgeAcknowledgement&,
                           const TessaroBridgeAcknowledgement&) = default;
};

} // namespace varnello
