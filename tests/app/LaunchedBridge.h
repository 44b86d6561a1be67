#pragma once

#include "BridgeProcess.h"
#include "OscAddressTally.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace varnello::endtoend {

// The bridge, headless on JACK, its data in `folder` and OSC going to `oscPort`;
// started through `launcher` (a program that execs the rest, such as prlimit).
class LaunchedBridge {
public:
    LaunchedBridge(const std::filesystem::path& folder, std::uint16_t oscPort,
                   std::vector<std::string> launcher = {}) {
        testing::writeOscForwardingPreferences(
            folder / "config" / "TessaroBridge" / "preferences.json", oscPort);
        std::vector<std::string> command = std::move(launcher);
        command.push_back(VARNELLO_BRIDGE_BINARY);
        const std::string binary = command.front();
        std::vector<std::string> arguments(command.begin() + 1, command.end());
        arguments.insert(arguments.end(), {"--headless", "--midi=jack"});
        process_ = std::make_unique<testing::BridgeProcess>(
            binary, arguments,
            std::map<std::string, std::string>{{"XDG_DATA_HOME", (folder / "data").string()},
                                               {"XDG_CONFIG_HOME", (folder / "config").string()}});
        static const std::regex ready(R"(Server status: Beschikbaar via wifi \(TCP (\d+)\))");
        const auto line = process_->awaitLine("Beschikbaar via wifi", std::chrono::seconds(30));
        std::smatch match;
        if (line && std::regex_search(*line, match, ready)) {
            port_ = static_cast<std::uint16_t>(std::stoi(match[1]));
        }
    }

    std::optional<std::uint16_t> port() const { return port_; }
    testing::BridgeProcess& process() { return *process_; }
    std::optional<int> terminate() { return process_->terminate(std::chrono::seconds(20)); }

    std::size_t openDescriptors() const {
        const auto folder = "/proc/" + std::to_string(process_->pid()) + "/fd";
        std::error_code error;
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(folder, error),
                          std::filesystem::directory_iterator()));
    }

    // The soft limit on open files, from /proc/<pid>/limits.
    std::uint64_t softDescriptorLimit() const {
        std::ifstream limits("/proc/" + std::to_string(process_->pid()) + "/limits");
        std::string line;
        while (std::getline(limits, line)) {
            if (line.rfind("Max open files", 0) == 0) {
                return std::stoull(line.substr(std::string("Max open files").size()));
            }
        }
        return 0;
    }

    std::size_t residentMemory() const {
        std::ifstream status("/proc/" + std::to_string(process_->pid()) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::stoull(line.substr(6)) * 1024;
            }
        }
        return 0;
    }

private:
    std::unique_ptr<testing::BridgeProcess> process_;
    std::optional<std::uint16_t> port_;
};

} // namespace varnello::endtoend
