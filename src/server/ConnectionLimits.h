#pragma once

#include <cstddef>
#include <cstdint>

namespace varnello {

// How many connections the server holds at once, so that its descriptors never
// run out: far more than any stage has iPads, far fewer than the process may
// open, with room kept for the ledger's files, the MIDI system, DNS-SD, the
// log and the toolkit. A connection beyond a cap is accepted and closed at
// once, so that the listen backlog never fills.
struct ConnectionLimits {
    // Descriptors kept back for everything but connections.
    static constexpr std::uint64_t reservedDescriptors = 128;
    static constexpr std::size_t mostClientConnections = 512;
    static constexpr std::size_t mostAgentControlConnections = 64;

    std::size_t maximumClientConnections = mostClientConnections;
    std::size_t maximumAgentControlConnections = mostAgentControlConnections;

    // The caps for a process that may open `descriptorLimit` descriptors: 1024
    // (the usual soft limit) gives 512 iPads and 64 agents, 448 to spare.
    static ConnectionLimits forDescriptorLimit(std::uint64_t descriptorLimit) noexcept;

    friend bool operator==(const ConnectionLimits&, const ConnectionLimits&) = default;
};

} // namespace varnello
