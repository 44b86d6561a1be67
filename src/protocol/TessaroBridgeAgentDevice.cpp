#include "protocol/TessaroBridgeAgentDevice.h"

#include "protocol/TessaroBridgeJsonFields.h"

namespace varnello {

using namespace jsonfields;

TessaroBridgeJson TessaroBridgeAgentDevice::toJson() const {
    TessaroBridgeJson json = TessaroBridgeJson::object();
    json["peerID"] = peerID;
    json["displayName"] = displayName;
    json["capabilities"] = capabilitiesJson(capabilities);
    return json;
}

TessaroBridgeAgentDevice TessaroBridgeAgentDevice::fromJson(const TessaroBridgeJson& json) {
    requireObject(json, "device");
    TessaroBridgeAgentDevice device;
    device.peerID = readText(required(json, "peerID"), "peerID");
    device.displayName = readText(required(json, "displayName"), "displayName");
    device.capabilities = readCapabilities(required(json, "capabilities"), "capabilities");
    return device;
}

std::vector<std::uint8_t>
TessaroBridgeAgentDevice::encodeList(const std::vector<TessaroBridgeAgentDevice>& devices) {
    auto array = TessaroBridgeJson::array();
    for (const auto& device : devices) {
        array.push_back(device.toJson());
    }
    const std::string text = array.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<TessaroBridgeAgentDevice>
TessaroBridgeAgentDevice::decodeList(std::span<const std::uint8_t> text) {
    TessaroBridgeJson json;
    try {
        json = TessaroBridgeJson::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& error) {
        throw TessaroBridgeDecodingFailure(error.what());
    }
    if (!json.is_array()) {
        throw TessaroBridgeDecodingFailure("The device list is not a JSON array.");
    }
    std::vector<TessaroBridgeAgentDevice> devices;
    devices.reserve(json.size());
    for (const auto& element : json) {
        devices.push_back(fromJson(element));
    }
    return devices;
}

} // namespace varnello
