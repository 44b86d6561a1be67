#pragma once

#include "HeadlessEndToEndTest.h"
#include "OscAddressTally.h"
#include "app/ProcessMemory.h"
#include "app/ReadyLine.h"
#include "support/TemporaryFolder.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnello::endtoend {

// The real program, headless on JACK, with its data and configuration in a
// temporary folder and OSC going to a port on 127.0.0.1. Shared by the tests
// that drive the binary through crashes, storage faults and hostile peers.
class RealBridge {
public:
    RealBridge(const std::filesystem::path& folder, std::uint16_t oscPort) : folder_(folder) {
        testing::writeOscForwardingPreferences(
            folder_ / "config" / "TessaroBridge" / "preferences.json", oscPort);
    }

    // Starts the program, through `launcher` when given (a program that execs the
    // rest, such as prlimit); the iPad port once it reports ready, or nothing.
    std::optional<std::uint16_t> start(std::map<std::string, std::string> environment = {},
                                       std::vector<std::string> launcher = {}) {
        environment["XDG_DATA_HOME"] = (folder_ / "data").string();
        environment["XDG_CONFIG_HOME"] = (folder_ / "config").string();
        launcher.push_back(VARNELLO_BRIDGE_BINARY);
        std::vector<std::string> arguments(launcher.begin() + 1, launcher.end());
        arguments.insert(arguments.end(), {"--headless", "--midi=jack"});
        process_ = std::make_unique<BridgeProcess>(launcher.front(), arguments, environment);
        const auto line =
            process_->awaitLine(std::string(testing::readyLineStart), std::chrono::seconds(30));
        const std::uint16_t port = line ? testing::readyPort(*line) : 0;
        return port != 0 ? std::optional(port) : std::nullopt;
    }

    BridgeProcess& process() { return *process_; }
    // Kills the program at once, as a power cut would, and reaps it.
    void kill() { process_.reset(); }
    std::optional<int> terminate() { return process_->terminate(std::chrono::seconds(20)); }

    // Resident memory of the running program, now and at its peak.
    testing::ProcessMemory memory() const { return testing::processMemory(process_->pid()); }

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
        const std::string name = "Max open files";
        std::string line;
        while (std::getline(limits, line)) {
            if (line.rfind(name, 0) == 0) {
                return std::stoull(line.substr(name.size()));
            }
        }
        return 0;
    }

private:
    std::filesystem::path folder_;
    std::unique_ptr<BridgeProcess> process_;
};

inline const std::string iPadHelloJson =
    R"({"type":"hello","body":{"role":"tessaro","protocolVersion":1,"peerID":"test-ipad",)"
    R"("displayName":"Test iPad","capabilities":["osc","midi"]}})";

inline std::string oscCommandJson(const std::string& id, const std::string& address) {
    return R"({"type":"command","body":{"id":")" + id + R"(","payload":{"type":"osc","address":")" +
           address + R"("}}})";
}

// An iPad that has exchanged hellos; nothing when the bridge did not answer.
inline std::unique_ptr<FramedConnection> connectIPad(std::uint16_t port) {
    auto iPad = std::make_unique<FramedConnection>(port);
    if (!iPad->connected() || !iPad->receive() || !iPad->send(iPadHelloJson)) {
        return nullptr;
    }
    return iPad;
}

} // namespace varnello::endtoend
