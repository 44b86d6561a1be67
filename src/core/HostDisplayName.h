#pragma once

#include "core/HostNameSource.h"

#include <cstddef>
#include <string>

namespace varnello {

inline constexpr std::size_t maximumDisplayNameBytes = 80;

// The computer's name for people: the localized name, else the host name, without
// control characters or surrounding white space, "Mac" when nothing is left, cut
// by whole characters to at most 80 UTF-8 bytes. Never fails. Main thread.
std::string hostDisplayName(HostNameSource& names);

} // namespace varnello
