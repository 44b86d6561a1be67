#pragma once

#include "protocol/TessaroBridgeJson.h"
#include "protocol/TessaroBridgePayload.h"
#include "support/Uuid.h"

namespace varnello {

// One command of an iPad: executed at most once per identifier. A plain value.
// Thread-safe.
struct TessaroBridgeCommand {
    Uuid id;
    TessaroBridgePayload payload;

    // Throws the payload's TessaroBridgeWireError.
    TessaroBridgeJson toJson() const;
    // Throws TessaroBridgeDecodingFailure or TessaroBridgeWireError.
    static TessaroBridgeCommand fromJson(const TessaroBridgeJson& json);

    friend bool operator==(const TessaroBridgeCommand&, const TessaroBridgeCommand&) = default;
};

} // namespace varnello
