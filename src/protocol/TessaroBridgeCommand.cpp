#include "protocol/TessaroBridgeCommand.h"

#include "protocol/TessaroBridgeJsonFields.h"

namespace varnello {

using namespace jsonfields;

TessaroBridgeJson TessaroBridgeCommand::toJson() const {
    TessaroBridgeJson json = TessaroBridgeJson::object();
    json["id"] = id.text();
    json["payload"] = payload.toJson();
    return json;
}

TessaroBridgeCommand TessaroBridgeCommand::fromJson(const TessaroBridgeJson& json) {
    requireObject(json, "body");
    const auto id = readUuid(required(json, "id"), "id");
    return TessaroBridgeCommand{id, TessaroBridgePayload::fromJson(required(json, "payload"))};
}

} // namespace varnello
