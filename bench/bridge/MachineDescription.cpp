#include "MachineDescription.h"

#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

namespace varnello::bench {

namespace {

std::string readCpuModel() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.starts_with("model name")) {
            const auto colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

// The mount whose point is the longest prefix of the folder: its type and device.
std::string fileSystemOf(const std::filesystem::path& folder) {
    std::error_code error;
    const std::string path = std::filesystem::weakly_canonical(folder, error).string();
    std::ifstream mounts("/proc/self/mounts");
    std::string line;
    std::string best = "unknown";
    std::size_t bestLength = 0;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device;
        std::string point;
        std::string type;
        fields >> device >> point >> type;
        const bool covers =
            path == point || point == "/" ||
            (path.starts_with(point) && path.size() > point.size() && path[point.size()] == '/');
        if (covers && point.size() >= bestLength) {
            bestLength = point.size();
            best = type + " (" + device + " on " + point + ")";
        }
    }
    return best;
}

} // namespace

MachineDescription MachineDescription::of(const std::filesystem::path& dataFolder) {
    MachineDescription machine;
    machine.processors = std::thread::hardware_concurrency();
    machine.cpuModel = readCpuModel();
    std::ifstream release("/proc/sys/kernel/osrelease");
    std::getline(release, machine.kernel);
    machine.fileSystem = fileSystemOf(dataFolder);
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
    machine.date = text;
    return machine;
}

} // namespace varnello::bench
