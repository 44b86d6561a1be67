#pragma once

#include "core/MachineIDSource.h"

#include <filesystem>
#include <vector>

namespace varnello {

// The systemd machine ID: the first of the files that holds more than white space.
// An unreadable file counts as one without an identifier. Main thread.
class LinuxMachineIDSource final : public MachineIDSource {
public:
    // /etc/machine-id, then /var/lib/dbus/machine-id.
    LinuxMachineIDSource();
    explicit LinuxMachineIDSource(std::vector<std::filesystem::path> files);

    std::optional<std::string> machineID() override;

private:
    std::vector<std::filesystem::path> files_;
};

} // namespace varnello
