#include "core/LinuxMachineIDSource.h"

#include "core/DurableFile.h"
#include "support/UnicodeScalars.h"

namespace varnello {
namespace {

// A machine ID is 33 bytes; anything far larger is not one.
constexpr std::size_t machineIDFileLimit = 4096;

} // namespace

LinuxMachineIDSource::LinuxMachineIDSource()
    : LinuxMachineIDSource({"/etc/machine-id", "/var/lib/dbus/machine-id"}) {}

LinuxMachineIDSource::LinuxMachineIDSource(std::vector<std::filesystem::path> files)
    : files_(std::move(files)) {}

std::optional<std::string> LinuxMachineIDSource::machineID() {
    for (const auto& file : files_) {
        auto contents = readSmallFile(file, machineIDFileLimit);
        if (contents.errorNumber == 0 && !trimmingWhiteSpace(contents.bytes).empty()) {
            return std::move(contents.bytes);
        }
    }
    return std::nullopt;
}

} // namespace varnello
