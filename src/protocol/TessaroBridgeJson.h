#pragma once

#include <nlohmann/json_fwd.hpp>

namespace varnello {

// The JSON value type of the wire messages. Objects keep their keys in the
// order written, so encoded messages list fields in declaration order; readers
// never depend on key order. Only declared here, to keep the message headers
// light: include <nlohmann/json.hpp> where a JSON value is used.
using TessaroBridgeJson = nlohmann::ordered_json;

} // namespace varnello
