#pragma once

#include "core/FallbackKeyStore.h"
#include "core/HostNameSource.h"
#include "core/MachineIDSource.h"

#include <string>

namespace varnello {

// Who this bridge is: a stable identifier (64 lower-case hexadecimal digits) and
// the computer's name for people (1 to 80 UTF-8 bytes). A plain value; thread-safe.
struct BridgeIdentity {
    std::string id;
    std::string displayName;

    // The identifier is SHA-256 over this prefix and the machine ID; the machine
    // ID itself never leaves the process.
    static constexpr const char* hashPrefix = "orvane.TessaroBridgeID.v1:";

    // Reads the machine ID (the fallback store only when there is none) and the
    // host name. Throws BridgeIdentityError when the fallback store fails. Main
    // thread, once at start-up.
    static BridgeIdentity loadOrCreate(MachineIDSource& machineIDs, FallbackKeyStore& keyStore,
                                       HostNameSource& hostNames);

    // The same over this machine's real sources.
    static BridgeIdentity loadOrCreate();

    friend bool operator==(const BridgeIdentity&, const BridgeIdentity&) = default;
};

} // namespace varnello
