#include "OscAddressTally.h"

#include "support/TemporaryFolder.h"

namespace varnello::testing {

std::string oscAddressOf(const std::vector<std::uint8_t>& datagram) {
    std::string address(datagram.begin(), datagram.end());
    return address.substr(0, address.find('\0'));
}

void writeOscForwardingPreferences(const std::filesystem::path& file, std::uint16_t port) {
    writeFile(file, R"({"oscForwardingEnabled": true, "oscForwardingHost": "127.0.0.1", )"
                    R"("oscForwardingPort": )" +
                        std::to_string(port) + "}");
}

OscAddressTally::OscAddressTally() : thread_([this] { run(); }) {}

OscAddressTally::~OscAddressTally() {
    stopping_ = true;
    thread_.join();
}

void OscAddressTally::run() {
    while (!stopping_) {
        if (const auto datagram = receiver_.receive(100)) {
            std::lock_guard lock(mutex_);
            ++counts_[oscAddressOf(*datagram)];
            ++total_;
        }
    }
}

void OscAddressTally::awaitTotal(std::size_t count, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (total() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::size_t OscAddressTally::total() {
    std::lock_guard lock(mutex_);
    return total_;
}

std::map<std::string, int> OscAddressTally::counts() {
    std::lock_guard lock(mutex_);
    return counts_;
}

} // namespace varnello::testing
