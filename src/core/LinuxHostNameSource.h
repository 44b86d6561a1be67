#pragma once

#include "core/HostNameSource.h"

#include <filesystem>

namespace varnello {

// PRETTY_HOSTNAME from the systemd machine-info file (shell-style quoting), and
// gethostname(2). Main thread.
class LinuxHostNameSource final : public HostNameSource {
public:
    // /etc/machine-info
    LinuxHostNameSource();
    explicit LinuxHostNameSource(std::filesystem::path machineInfoFile);

    std::optional<std::string> localizedName() override;
    std::string hostName() override;

private:
    std::filesystem::path machineInfoFile_;
};

} // namespace varnello
