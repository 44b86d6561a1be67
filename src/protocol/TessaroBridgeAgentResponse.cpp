#include "protocol/TessaroBridgeAgentResponse.h"

#include "protocol/TessaroBridgeConstants.h"
#include "protocol/TessaroBridgeJsonFields.h"
#include "protocol/TessaroBridgeWireError.h"
#include "support/Base64.h"
#include "support/PrefixCharacters.h"

namespace varnello {

using namespace jsonfields;

TessaroBridgeJson TessaroBridgeAgentResponse::toJson() const {
    TessaroBridgeJson json = TessaroBridgeJson::object();
    json["requestID"] = requestID.text();
    json["status"] = wireValue(status);
    if (payload) {
        json["payload"] = base64Encode(*payload);
    }
    if (detail) {
        json["detail"] = *detail;
    }
    return json;
}

TessaroBridgeAgentResponse TessaroBridgeAgentResponse::fromJson(const TessaroBridgeJson& json) {
    requireObject(json, "body");
    TessaroBridgeAgentResponse response;
    response.requestID = readUuid(required(json, "requestID"), "requestID");
    response.status =
        readEnumeration<TessaroBridgeAgentResponseStatus>(required(json, "status"), "status");
    if (const auto* payload = optional(json, "payload")) {
        response.payload = readByteBlock(*payload, "payload");
    }
    if (const auto* detail = optional(json, "detail")) {
        response.detail = readText(*detail, "detail");
    }

    if (response.payload && response.payload->size() > maximumAgentPayloadBytes) {
        throw TessaroBridgeWireError::agentPayloadTooLarge(
            static_cast<std::int64_t>(maximumAgentPayloadBytes),
            static_cast<std::int64_t>(response.payload->size()));
    }
    // A text of at most 255 bytes has at most 255 characters: no need to count.
    if (response.detail && response.detail->size() > maximumDetailCharacters) {
        response.detail = prefixCharacters(*response.detail, maximumDetailCharacters);
    }
    return response;
}

} // namespace varnello
