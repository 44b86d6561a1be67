#include "app/ProcessMemory.h"

#include <fstream>
#include <sstream>
#include <string>

namespace varnello::testing {

ProcessMemory processMemory(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    ProcessMemory memory;
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string name;
        std::size_t kibibytes = 0;
        fields >> name >> kibibytes;
        if (name == "VmRSS:") {
            memory.resident = kibibytes * 1024;
        } else if (name == "VmHWM:") {
            memory.peak = kibibytes * 1024;
        }
    }
    return memory;
}

} // namespace varnello::testing
