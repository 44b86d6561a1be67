#include "protocol/TessaroBridgeHello.h"

#include "protocol/TessaroBridgeJsonFields.h"
#include "protocol/TessaroBridgeValidation.h"

#include <utility>

namespace varnello {

using namespace jsonfields;

TessaroBridgeHello::TessaroBridgeHello(TessaroBridgePeerRole role, std::int64_t protocolVersion,
                                       std::string peerID, std::string displayName,
                                       std::set<TessaroBridgeCapability> capabilities)
    : role_(role), protocolVersion_(protocolVersion), peerID_(std::move(peerID)),
      displayName_(std::move(displayName)), capabilities_(std::move(capabilities)) {}

TessaroBridgeHello TessaroBridgeHello::make(TessaroBridgePeerRole role,
                                            std::int64_t protocolVersion, std::string peerID,
                                            std::string displayName,
                                            std::set<TessaroBridgeCapability> capabilities) {
    validateHello(protocolVersion, peerID, displayName, capabilities);
    return TessaroBridgeHello(role, protocolVersion, std::move(peerID), std::move(displayName),
                              std::move(capabilities));
}

TessaroBridgeJson TessaroBridgeHello::toJson() const {
    TessaroBridgeJson json = TessaroBridgeJson::object();
    json["role"] = wireValue(role_);
    json["protocolVersion"] = protocolVersion_;
    json["peerID"] = peerID_;
    json["displayName"] = displayName_;
    json["capabilities"] = capabilitiesJson(capabilities_);
    return json;
}

TessaroBridgeHello TessaroBridgeHello::fromJson(const TessaroBridgeJson& json) {
    requireObject(json, "body");
    const auto role = readEnumeration<TessaroBridgePeerRole>(required(json, "role"), "role");
    const auto protocolVersion = readInteger(required(json, "protocolVersion"), "protocolVersion");
    auto peerID = readText(required(json, "peerID"), "peerID");
    auto displayName = readText(required(json, "displayName"), "displayName");
    auto capabilities = readCapabilities(required(json, "capabilities"), "capabilities");
    return make(role, protocolVersion, std::move(peerID), std::move(displayName),
                std::move(capabilities));
}

} // namespace varnello
