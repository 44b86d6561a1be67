#pragma once

#include "server/DnsServiceRegistrar.h"

#include <string>
#include <string_view>

namespace varnello {

// The DNS-SD service type iPads browse for, in the default domain "local.".
inline constexpr std::string_view bonjourServiceType = "_tessaro._tcp.";

// The instance name for a bridge: "Varnello Bridge – " and the display name,
// cut by whole characters to at most 50 UTF-8 bytes, then a space and the
// first 8 characters of the id. Both texts must be valid UTF-8. Thread-safe.
std::string bonjourServiceName(std::string_view displayName, std::string_view id);

// The six TXT entries describing a bridge: role, protocol, id, name (not
// cut), midi and osc. Thread-safe.
DnsTxtRecord bonjourTxtRecord(std::string_view displayName, std::string_view id);

} // namespace varnello
