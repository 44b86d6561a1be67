#include "protocol/TessaroBridgeAcknowledgement.h"

#include "protocol/TessaroBridgeJsonFields.h"

namespace varnello {

using namespace jsonfields;

TessaroBridgeJson TessaroBridgeAcknowledgement::toJson() const {
    TessaroBridgeJson json = TessaroBridgeJson::object();
    json["commandID"] = commandID.text();
    json["status"] = wireValue(status);
    if (detail) {
        json["detail"] = *detail;
    }
    return json;
}

TessaroBridgeAcknowledgement TessaroBridgeAcknowledgement::fromJson(const TessaroBridgeJson& json) {
    requireObject(json, "body");
    TessaroBridgeAcknowledgement acknowledgement;
    acknowledgement.commandID = readUuid(required(json, "commandID"), "commandID");
    acknowledgement.status =
        readEnumeration<TessaroBridgeAckStatus>(required(json, "status"), "status");
    if (const auto* detail = optional(json, "detail")) {
        acknowledgement.detail = readText(*detail, "detail");
    }
    return acknowledgement;
}

} // namespace varnello
