#pragma once

#include "LoadIPad.h"
#include "protocol/TessaroBridgeCommand.h"
#include "protocol/TessaroBridgeEnumerations.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace varnello::bench {

// One command's times in milliseconds from just before its frame was sent: to its
// acknowledgement and, when it asked for one, to its OSC datagram (else negative).
struct CommandTiming {
    double acknowledgement = 0;
    double cue = -1;
};

struct BatchTiming {
    std::vector<CommandTiming> commands;
    // From the first command's send to the last one's.
    double sendSpread = 0;
};

// The report's iPads and its OSC receiver, all driven from the calling thread by one
// epoll loop over non-blocking sockets; arrivals are stamped with steady_clock as the
// loop reads them. Every wait gives up after 10 seconds. Called from one thread only.
class LoadClient {
public:
    // Throws BridgeLoadError(receiver, poll).
    LoadClient();
    ~LoadClient();

    LoadClient(const LoadClient&) = delete;
    LoadClient& operator=(const LoadClient&) = delete;

    // Where the bridge is to send its OSC datagrams (127.0.0.1).
    std::uint16_t oscPort() const noexcept { return oscPort_; }

    // Replaces the connected iPads by `count` new ones named <prefix>-<n>.
    void connect(std::uint16_t port, int count, const std::string& prefix);
    void disconnect();

    // One command per iPad, iPad n sending commands[n]: every acknowledgement must
    // name its command with `expected`; with `datagrams`, every command's OSC address
    // must arrive exactly once. Throws BridgeLoadError for anything else.
    BatchTiming runBatch(const std::vector<TessaroBridgeCommand>& commands,
                         TessaroBridgeAckStatus expected, bool datagrams);

    // Reads datagrams for `wait`; any but `tolerated` fails as unexpected (or
    // repeated). Returns how many of `tolerated` came.
    std::size_t drainDatagrams(std::chrono::milliseconds wait, const std::string& tolerated = {});

private:
    int oscSocket_ = -1;
    std::uint16_t oscPort_ = 0;
    int epoll_ = -1;
    std::vector<std::unique_ptr<LoadIPad>> iPads_;
    // Every address that has arrived, to tell a repeated datagram from a stray one.
    std::unordered_set<std::string> arrived_;
};

} // namespace varnello::bench
