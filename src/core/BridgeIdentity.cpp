#include "core/BridgeIdentity.h"

#include "core/FallbackMachineID.h"
#include "core/FileFallbackKeyStore.h"
#include "core/HostDisplayName.h"
#include "core/LinuxHostNameSource.h"
#include "core/LinuxMachineIDSource.h"
#include "support/HexString.h"
#include "support/Sha256.h"
#include "support/UnicodeScalars.h"

namespace varnello {

BridgeIdentity BridgeIdentity::loadOrCreate(MachineIDSource& machineIDs, FallbackKeyStore& keyStore,
                                            HostNameSource& hostNames) {
    std::string machineID;
    if (const auto read = machineIDs.machineID()) {
        machineID = trimmingWhiteSpace(*read);
    }
    if (machineID.empty()) {
        machineID = fallbackMachineID(keyStore);
    }
    return BridgeIdentity{hexString(sha256(hashPrefix + machineID)), hostDisplayName(hostNames)};
}

BridgeIdentity BridgeIdentity::loadOrCreate() {
    LinuxMachineIDSource machineIDs;
    FileFallbackKeyStore keyStore(FileFallbackKeyStore::defaultFile());
    LinuxHostNameSource hostNames;
    return loadOrCreate(machineIDs, keyStore, hostNames);
}

} // namespace varnello
