#pragma once

#include "outputs/UdpReceiver.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varnello::testing {

// The address an OSC datagram carries: its text up to the first NUL.
std::string oscAddressOf(const std::vector<std::uint8_t>& datagram);

// Writes a preferences.json (and its folder) that has the bridge forward OSC to
// 127.0.0.1 at `port`.
void writeOscForwardingPreferences(const std::filesystem::path& file, std::uint16_t port);

// A UDP receiver on 127.0.0.1 that counts the OSC datagrams arriving, by address,
// on its own thread until destroyed. Thread-safe.
class OscAddressTally {
public:
    // Throws std::runtime_error when the receiver cannot be bound.
    OscAddressTally();
    ~OscAddressTally();

    OscAddressTally(const OscAddressTally&) = delete;
    OscAddressTally& operator=(const OscAddressTally&) = delete;

    std::uint16_t port() const noexcept { return receiver_.port(); }

    // Waits at most `wait` until `count` datagrams in all have arrived.
    void awaitTotal(std::size_t count, std::chrono::milliseconds wait);
    std::size_t total();
    // How often each address arrived.
    std::map<std::string, int> counts();

private:
    void run();

    // Room for a whole load round's datagrams should the counting thread be descheduled.
    test::UdpReceiver receiver_{AF_INET, 4 << 20};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::map<std::string, int> counts_;
    std::size_t total_ = 0;
    std::thread thread_;
};

} // namespace varnello::testing
