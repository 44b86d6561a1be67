#pragma once

#include "protocol/TessaroBridgeAcknowledgement.h"
#include "protocol/TessaroBridgeAgentRequest.h"
#include "protocol/TessaroBridgeAgentResponse.h"
#include "protocol/TessaroBridgeCommand.h"
#include "protocol/TessaroBridgeHello.h"
#include "protocol/TessaroBridgeJson.h"

#include <optional>
#include <string_view>
#include <variant>

namespace varnello {

// One message on the wire: exactly one body, tagged by its MessageType. A plain
// value. Thread-safe.
class TessaroBridgeMessage {
public:
    enum class MessageType { hello, command, acknowledgement, agentRequest, agentResponse };

    // Alternatives in MessageType order.
    using Body =
        std::variant<TessaroBridgeHello, TessaroBridgeCommand, TessaroBridgeAcknowledgement,
                     TessaroBridgeAgentRequest, TessaroBridgeAgentResponse>;

    // Implicit, so that any body is passed where a message is expected.
    TessaroBridgeMessage(TessaroBridgeHello body) : body_(std::move(body)) {}
    TessaroBridgeMessage(TessaroBridgeCommand body) : body_(std::move(body)) {}
    TessaroBridgeMessage(TessaroBridgeAcknowledgement body) : body_(std::move(body)) {}
    TessaroBridgeMessage(TessaroBridgeAgentRequest body) : body_(std::move(body)) {}
    TessaroBridgeMessage(TessaroBridgeAgentResponse body) : body_(std::move(body)) {}

    MessageType type() const noexcept { return static_cast<MessageType>(body_.index()); }
    const Body& body() const noexcept { return body_; }

    // The body when it is a T, else nullptr.
    template <typename T> const T* bodyIf() const noexcept { return std::get_if<T>(&body_); }

    // {"type": <wire value>, "body": <the body's object>}. Throws the
    // TessaroBridgeWireError of a command payload that fails its checks.
    TessaroBridgeJson toJson() const;
    // Reads "type", then "body" as the kind that type names. Throws
    // TessaroBridgeDecodingFailure or TessaroBridgeWireError.
    static TessaroBridgeMessage fromJson(const TessaroBridgeJson& json);

    friend bool operator==(const TessaroBridgeMessage&, const TessaroBridgeMessage&) = default;

private:
    Body body_;
};

std::string_view wireValue(TessaroBridgeMessage::MessageType value) noexcept;
template <typename Enumeration>
std::optional<Enumeration> fromWireValue(std::string_view text) noexcept;
template <>
std::optional<TessaroBridgeMessage::MessageType> fromWireValue(std::string_view text) noexcept;

} // namespace varnello
