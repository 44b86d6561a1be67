#include "protocol/TessaroBridgePayload.h"

#include "protocol/TessaroBridgeJsonFields.h"
#include "protocol/TessaroBridgeValidation.h"
#include "protocol/TessaroBridgeWireValues.h"

namespace varnello {

using namespace jsonfields;

namespace {
constexpr std::array<std::string_view, 2> payloadTypes{"midi", "osc"};
} // namespace

std::string_view wireValue(TessaroBridgePayload::PayloadType value) noexcept {
    return wireValueIn(payloadTypes, value);
}

template <>
std::optional<TessaroBridgePayload::PayloadType> fromWireValue(std::string_view text) noexcept {
    return caseIn<TessaroBridgePayload::PayloadType>(payloadTypes, text);
}

TessaroBridgePayload TessaroBridgePayload::midi(std::vector<std::uint8_t> bytes) {
    return TessaroBridgePayload(std::move(bytes));
}

TessaroBridgePayload TessaroBridgePayload::osc(std::string address) {
    return TessaroBridgePayload(std::move(address));
}

TessaroBridgeJson TessaroBridgePayload::toJson() const {
    TessaroBridgeJson json = TessaroBridgeJson::object();
    if (const auto* bytes = midiBytes()) {
        validateMIDIBytes(*bytes);
        json["type"] = wireValue(PayloadType::midi);
        json["bytes"] = *bytes;
    } else {
        const auto& address = *oscAddress();
        validateOSCAddress(address);
        json["type"] = wireValue(PayloadType::osc);
        json["address"] = address;
    }
    return json;
}

TessaroBridgePayload TessaroBridgePayload::fromJson(const TessaroBridgeJson& json) {
    requireObject(json, "payload");
    switch (readEnumeration<PayloadType>(required(json, "type"), "type")) {
    case PayloadType::midi: {
        auto bytes = readByteArray(required(json, "bytes"), "bytes");
        validateMIDIBytes(bytes);
        return midi(std::move(bytes));
    }
    case PayloadType::osc: {
        auto address = readText(required(json, "address"), "address");
        validateOSCAddress(address);
        return osc(std::move(address));
    }
    }
    failUnknownValue("type");
}

} // namespace varnello
