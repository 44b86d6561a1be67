#pragma once

#include <chrono>
#include <cstdint>

namespace varnello::testing {

// A blocking TCP connection to 127.0.0.1 at `port`: its descriptor, or -1 when it
// cannot be made. A timeout other than zero bounds every blocking read (receive) or
// write (send) on it.
int connectToLoopback(std::uint16_t port, std::chrono::seconds receiveTimeout = {},
                      std::chrono::seconds sendTimeout = {});

} // namespace varnello::testing
