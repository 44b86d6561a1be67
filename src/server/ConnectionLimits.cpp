#include "server/ConnectionLimits.h"

#include <algorithm>

namespace varnello {

ConnectionLimits ConnectionLimits::forDescriptorLimit(std::uint64_t descriptorLimit) noexcept {
    const std::uint64_t reserve = std::min(reservedDescriptors, descriptorLimit / 2);
    const std::uint64_t usable = descriptorLimit - reserve;
    // Three quarters of what is left for iPads and an eighth for agents, so
    // that both caps together stay well inside it.
    const auto cap = [](std::uint64_t share, std::size_t most) {
        return static_cast<std::size_t>(std::clamp<std::uint64_t>(share, 1, most));
    };
    return ConnectionLimits{cap(usable / 4 * 3, mostClientConnections),
                            cap(usable / 8, mostAgentControlConnections)};
}

} // namespace varnello
