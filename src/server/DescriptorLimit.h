#pragma once

#include <cstdint>

namespace varnello {

// The process's limit on open descriptors. Thread-safe.

// Raises the soft limit to the hard limit, as servers do (systemd and login
// sessions start programs at 1024 while allowing far more), and returns the
// soft limit in force afterwards. Called once at program start, before any
// thread starts.
std::uint64_t raiseDescriptorLimit() noexcept;

// The soft limit now; UINT64_MAX when unlimited.
std::uint64_t descriptorLimit() noexcept;

} // namespace varnello
