#pragma once

#include <filesystem>
#include <string>

namespace varnello::bench {

// What the figures were taken on: processors, CPU model, kernel, the file system
// that holds `dataFolder`, and the date (UTC).
struct MachineDescription {
    unsigned processors = 0;
    std::string cpuModel;
    std::string kernel;
    std::string fileSystem;
    std::string date;

    static MachineDescription of(const std::filesystem::path& dataFolder);
};

} // namespace varnello::bench
