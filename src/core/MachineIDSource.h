#pragma once

#include <optional>
#include <string>

namespace varnello {

// Where the machine's stable identifier comes from. Main thread.
class MachineIDSource {
public:
    virtual ~MachineIDSource() = default;

    // The identifier text as the system holds it (surrounding white space
    // included), or nothing when the machine has none.
    virtual std::optional<std::string> machineID() = 0;
};

} // namespace varnello
