#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace varnello::bench {

// A UDP receiver on 127.0.0.1 that counts the OSC datagrams arriving, by address,
// on its own thread.
class OscTally {
public:
    // Throws BridgeLoadError(oscReceiver).
    OscTally();
    ~OscTally();

    OscTally(const OscTally&) = delete;
    OscTally& operator=(const OscTally&) = delete;

    std::uint16_t port() const noexcept { return port_; }

    // Waits at most `wait` until `count` datagrams in all have arrived.
    void awaitTotal(std::size_t count, std::chrono::milliseconds wait);
    std::size_t total();
    // How often each address arrived.
    std::map<std::string, int> counts();

private:
    void receive();

    int socket_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::map<std::string, int> counts_;
    std::size_t total_ = 0;
    std::thread receiver_;
};

} // namespace varnello::bench
