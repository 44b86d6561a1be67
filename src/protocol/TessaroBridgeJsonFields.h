#pragma once

#include "protocol/TessaroBridgeDecodingFailure.h"
#include "protocol/TessaroBridgeEnumerations.h"
#include "protocol/TessaroBridgeJson.h"
#include "support/Uuid.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace varnello::jsonfields {

// Reading and writing the field forms shared by the wire messages. Every reader
// throws TessaroBridgeDecodingFailure when the JSON does not fit the form.
// Used inside the protocol layer only. Thread-safe.

// `value` itself, when it is a JSON object.
const TessaroBridgeJson& requireObject(const TessaroBridgeJson& value, std::string_view what);
// The value of a key that must be present (JSON null counts as present here).
const TessaroBridgeJson& required(const TessaroBridgeJson& object, std::string_view key);
// The value of an optional key; nullptr when it is missing or null.
const TessaroBridgeJson* optional(const TessaroBridgeJson& object, std::string_view key);

std::string readText(const TessaroBridgeJson& value, std::string_view key);
std::int64_t readInteger(const TessaroBridgeJson& value, std::string_view key);
Uuid readUuid(const TessaroBridgeJson& value, std::string_view key);
// Standard base64 text of a byte block.
std::vector<std::uint8_t> readByteBlock(const TessaroBridgeJson& value, std::string_view key);
// An array of integers 0 to 255.
std::vector<std::uint8_t> readByteArray(const TessaroBridgeJson& value, std::string_view key);
// An array of capability wire values, any order, repeats counting once.
std::set<TessaroBridgeCapability> readCapabilities(const TessaroBridgeJson& value,
                                                   std::string_view key);

[[noreturn]] void failUnknownValue(std::string_view key);

template <typename Enumeration>
Enumeration readEnumeration(const TessaroBridgeJson& value, std::string_view key) {
    const auto found = fromWireValue<Enumeration>(readText(value, key));
    if (!found) {
        failUnknownValue(key);
    }
    return *found;
}

TessaroBridgeJson capabilitiesJson(const std::set<TessaroBridgeCapability>& capabilities);

} // namespace varnello::jsonfields
