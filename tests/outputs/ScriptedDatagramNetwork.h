#pragma once

#include "outputs/DatagramNetwork.h"

#include <cerrno>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <vector>

namespace varnello::test {

// A resolver and socket layer whose entries and failures a test writes down,
// recording every call. Reaches outcomes real loopback sockets cannot give.
struct ScriptedNetworkState {
    struct Entry {
        int socketError = 0;  // openSocket fails with this errno when non-zero
        long sendResult = -1; // -1: send the whole datagram
        int sendError = 0;    // sendTo fails with this errno when non-zero
    };

    bool resolves = true;
    std::vector<Entry> entries;

    std::vector<std::string> calls;
    std::vector<std::vector<std::uint8_t>> sent;
    int openSockets = 0;
};

class ScriptedDatagramNetwork final : public DatagramNetwork {
public:
    explicit ScriptedDatagramNetwork(std::shared_ptr<ScriptedNetworkState> state)
        : state_(std::move(state)) {}

    std::optional<std::vector<DatagramDestination>> resolve(const std::string& host,
                                                            const std::string& port) override {
        state_->calls.push_back("resolve " + host + " " + port);
        if (!state_->resolves) {
            return std::nullopt;
        }
        std::vector<DatagramDestination> destinations;
        for (std::size_t i = 0; i < state_->entries.size(); ++i) {
            DatagramDestination destination;
            destination.family = AF_INET;
            destination.socketType = SOCK_DGRAM;
            destination.protocol = IPPROTO_UDP;
            // The entry's index travels in the port, so sendTo knows which entry it serves.
            auto& address = reinterpret_cast<sockaddr_in&>(destination.address);
            address.sin_family = AF_INET;
            address.sin_port = static_cast<in_port_t>(i);
            destination.addressLength = sizeof(sockaddr_in);
            destinations.push_back(destination);
        }
        return destinations;
    }

    int openSocket(int family, int socketType, int protocol) override {
        state_->calls.push_back("open " + std::to_string(family) + " " +
                                std::to_string(socketType) + " " + std::to_string(protocol));
        const int error = state_->entries[openIndex_++].socketError;
        if (error != 0) {
            return -error;
        }
        ++state_->openSockets;
        return 1000 + static_cast<int>(openIndex_ - 1);
    }

    long sendTo(int socket, std::span<const std::uint8_t> datagram,
                const DatagramDestination& destination) override {
        const auto index = reinterpret_cast<const sockaddr_in&>(destination.address).sin_port;
        state_->calls.push_back("send " + std::to_string(socket) + " to " + std::to_string(index));
        const auto& entry = state_->entries.at(index);
        if (entry.sendError != 0) {
            return -entry.sendError;
        }
        state_->sent.emplace_back(datagram.begin(), datagram.end());
        return entry.sendResult < 0 ? static_cast<long>(datagram.size()) : entry.sendResult;
    }

    void closeSocket(int socket) noexcept override {
        state_->calls.push_back("close " + std::to_string(socket));
        --state_->openSockets;
    }

private:
    std::shared_ptr<ScriptedNetworkState> state_;
    std::size_t openIndex_ = 0;
};

} // namespace varnello::test
