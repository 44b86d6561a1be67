#include "protocol/TessaroBridgeJsonFields.h"

#include "support/Base64.h"

#include <cmath>
#include <limits>

namespace varnello::jsonfields {
namespace {

[[noreturn]] void fail(std::string_view key, std::string_view problem) {
    throw TessaroBridgeDecodingFailure("The value of \"" + std::string(key) + "\" " +
                                       std::string(problem) + ".");
}

} // namespace

void failUnknownValue(std::string_view key) {
    fail(key, "is not one of its known values");
}

const TessaroBridgeJson& requireObject(const TessaroBridgeJson& value, std::string_view what) {
    if (!value.is_object()) {
        fail(what, "is not a JSON object");
    }
    return value;
}

const TessaroBridgeJson& required(const TessaroBridgeJson& object, std::string_view key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        throw TessaroBridgeDecodingFailure("The key \"" + std::string(key) + "\" is missing.");
    }
    return *found;
}

const TessaroBridgeJson* optional(const TessaroBridgeJson& object, std::string_view key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

std::string readText(const TessaroBridgeJson& value, std::string_view key) {
    if (!value.is_string()) {
        fail(key, "is not a string");
    }
    return value.get<std::string>();
}

std::int64_t readInteger(const TessaroBridgeJson& value, std::string_view key) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            fail(key, "is out of range");
        }
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_float()) {
        // A peer may write an integral number as 60.0; anything else is no integer.
        const double number = value.get<double>();
        constexpr double limit = 9223372036854775808.0; // 2^63
        if (std::isfinite(number) && std::trunc(number) == number && number >= -limit &&
            number < limit) {
            return static_cast<std::int64_t>(number);
        }
    }
    fail(key, "is not an integer");
}

Uuid readUuid(const TessaroBridgeJson& value, std::string_view key) {
    const auto uuid = Uuid::parse(readText(value, key));
    if (!uuid) {
        fail(key, "is not a UUID");
    }
    return *uuid;
}

std::vector<std::uint8_t> readByteBlock(const TessaroBridgeJson& value, std::string_view key) {
    auto bytes = base64Decode(readText(value, key));
    if (!bytes) {
        fail(key, "is not base64");
    }
    return std::move(*bytes);
}

std::vector<std::uint8_t> readByteArray(const TessaroBridgeJson& value, std::string_view key) {
    if (!value.is_array()) {
        fail(key, "is not an array");
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(value.size());
    for (const auto& element : value) {
        const std::int64_t number = readInteger(element, key);
        if (number < 0 || number > 255) {
            fail(key, "holds a number outside 0 to 255");
        }
        bytes.push_back(static_cast<std::uint8_t>(number));
    }
    return bytes;
}

std::set<TessaroBridgeCapability> readCapabilities(const TessaroBridgeJson& value,
                                                   std::string_view key) {
    if (!value.is_array()) {
        fail(key, "is not an array");
    }
    std::set<TessaroBridgeCapability> capabilities;
    for (const auto& element : value) {
        capabilities.insert(readEnumeration<TessaroBridgeCapability>(element, key));
    }
    return capabilities;
}

TessaroBridgeJson capabilitiesJson(const std::set<TessaroBridgeCapability>& capabilities) {
    auto array = TessaroBridgeJson::array();
    for (const auto capability : capabilities) {
        array.push_back(wireValue(capability));
    }
    return array;
}

} // namespace varnello::jsonfields
