#include "protocol/TessaroBridgeMessage.h"

#include "protocol/TessaroBridgeJsonFields.h"
#include "protocol/TessaroBridgeWireValues.h"

namespace varnello {

using namespace jsonfields;

namespace {
constexpr std::array<std::string_view, 5> messageTypes{"hello", "command", "acknowledgement",
                                                       "agentRequest", "agentResponse"};
} // namespace

std::string_view wireValue(TessaroBridgeMessage::MessageType value) noexcept {
    return wireValueIn(messageTypes, value);
}

template <>
std::optional<TessaroBridgeMessage::MessageType> fromWireValue(std::string_view text) noexcept {
    return caseIn<TessaroBridgeMessage::MessageType>(messageTypes, text);
}

TessaroBridgeJson TessaroBridgeMessage::toJson() const {
    TessaroBridgeJson json = TessaroBridgeJson::object();
    json["type"] = wireValue(type());
    json["body"] = std::visit([](const auto& body) { return body.toJson(); }, body_);
    return json;
}

TessaroBridgeMessage TessaroBridgeMessage::fromJson(const TessaroBridgeJson& json) {
    requireObject(json, "message");
    const auto type = readEnumeration<MessageType>(required(json, "type"), "type");
    const auto& body = required(json, "body");
    switch (type) {
    case MessageType::hello:
        return TessaroBridgeHello::fromJson(body);
    case MessageType::command:
        return TessaroBridgeCommand::fromJson(body);
    case MessageType::acknowledgement:
        return TessaroBridgeAcknowledgement::fromJson(body);
    case MessageType::agentRequest:
        return TessaroBridgeAgentRequest::fromJson(body);
    case MessageType::agentResponse:
        return TessaroBridgeAgentResponse::fromJson(body);
    }
    failUnknownValue("type");
}

} // namespace varnello
