#include "protocol/TessaroBridgeAgentRequest.h"

#include "protocol/TessaroBridgeConstants.h"
#include "protocol/TessaroBridgeJsonFields.h"
#include "protocol/TessaroBridgeWireError.h"
#include "support/Base64.h"

namespace varnello {

using namespace jsonfields;

TessaroBridgeJson TessaroBridgeAgentRequest::toJson() const {
    TessaroBridgeJson json = TessaroBridgeJson::object();
    json["requestID"] = requestID.text();
    if (targetPeerID) {
        json["targetPeerID"] = *targetPeerID;
    }
    json["operation"] = wireValue(operation);
    if (payload) {
        json["payload"] = base64Encode(*payload);
    }
    return json;
}

TessaroBridgeAgentRequest TessaroBridgeAgentRequest::fromJson(const TessaroBridgeJson& json) {
    requireObject(json, "body");
    TessaroBridgeAgentRequest request;
    request.requestID = readUuid(required(json, "requestID"), "requestID");
    if (const auto* target = optional(json, "targetPeerID")) {
        request.targetPeerID = readText(*target, "targetPeerID");
    }
    request.operation =
        readEnumeration<TessaroBridgeAgentOperation>(required(json, "operation"), "operation");
    if (const auto* payload = optional(json, "payload")) {
        request.payload = readByteBlock(*payload, "payload");
    }

    if (request.targetPeerID &&
        (request.targetPeerID->empty() || request.targetPeerID->size() > maximumPeerTextBytes)) {
        throw TessaroBridgeWireError::invalidIdentity();
    }
    if (request.payload && request.payload->size() > maximumAgentPayloadBytes) {
        throw TessaroBridgeWireError::agentPayloadTooLarge(
            static_cast<std::int64_t>(maximumAgentPayloadBytes),
            static_cast<std::int64_t>(request.payload->size()));
    }
    return request;
}

} // namespace varnello
