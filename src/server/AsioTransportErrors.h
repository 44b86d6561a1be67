#pragma once

#include "server/TransportError.h"

#include <system_error>

namespace varnello {

// The transport's error for an errno value, described by the system's text.
TransportError transportErrorFromErrno(int errorNumber);

// The transport's error for a failed Asio operation.
TransportError transportErrorFrom(const std::error_code& error);

} // namespace varnello
