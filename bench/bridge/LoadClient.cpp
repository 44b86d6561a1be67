#include "LoadClient.h"

#include "BridgeLoadError.h"
#include "app/OscAddressTally.h"
#include "protocol/TessaroBridgeAcknowledgement.h"

#include <arpa/inet.h>
#include <cerrno>
#include <limits>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>

namespace varnello::bench {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto readLimit = 10s;
constexpr std::uint32_t oscToken = std::numeric_limits<std::uint32_t>::max();
// Room for a burst of datagrams while the loop waits on something else.
constexpr int oscReceiveBufferBytes = 4 << 20;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void watch(int epoll, int descriptor, std::uint32_t token) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = token;
    if (::epoll_ctl(epoll, EPOLL_CTL_ADD, descriptor, &event) != 0) {
        throw BridgeLoadError(BridgeLoadError::Code::poll);
    }
}

} // namespace

LoadClient::LoadClient() {
    oscSocket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::setsockopt(oscSocket_, SOL_SOCKET, SO_RCVBUF, &oscReceiveBufferBytes,
                 sizeof oscReceiveBufferBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (oscSocket_ < 0 ||
        ::bind(oscSocket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(oscSocket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (oscSocket_ >= 0) {
            ::close(oscSocket_);
        }
        throw BridgeLoadError(BridgeLoadError::Code::receiver);
    }
    oscPort_ = ntohs(address.sin_port);
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        ::close(oscSocket_);
        throw BridgeLoadError(BridgeLoadError::Code::poll);
    }
    try {
        watch(epoll_, oscSocket_, oscToken);
    } catch (...) {
        ::close(epoll_);
        ::close(oscSocket_);
        throw;
    }
}

LoadClient::~LoadClient() {
    iPads_.clear();
    ::close(epoll_);
    ::close(oscSocket_);
}

void LoadClient::connect(std::uint16_t port, int count, const std::string& prefix) {
    disconnect();
    for (int n = 0; n < count; ++n) {
        iPads_.push_back(std::make_unique<LoadIPad>(port, prefix + "-" + std::to_string(n)));
        watch(epoll_, iPads_.back()->descriptor(), static_cast<std::uint32_t>(n));
    }
}

void LoadClient::disconnect() {
    // Closing a socket takes it out of the epoll set.
    iPads_.clear();
}

BatchTiming LoadClient::runBatch(const std::vector<TessaroBridgeCommand>& commands,
                                 TessaroBridgeAckStatus expected, bool datagrams) {
    const std::size_t count = commands.size();
    BatchTiming batch;
    batch.commands.resize(count);
    std::vector<Clock::time_point> sent(count);
    std::vector<bool> answered(count, false);
    std::unordered_map<std::string, std::size_t> awaited;
    if (datagrams) {
        for (std::size_t n = 0; n < count; ++n) {
            if (const auto* address = commands[n].payload.oscAddress()) {
                awaited.emplace(*address, n);
            }
        }
    }
    for (std::size_t n = 0; n < count; ++n) {
        sent[n] = Clock::now();
        iPads_.at(n)->send(commands[n]);
    }
    batch.sendSpread = millisecondsBetween(sent.front(), sent.back());

    const auto deadline = Clock::now() + readLimit;
    std::size_t answersLeft = count;
    epoll_event events[64];
    while (answersLeft > 0 || !awaited.empty()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            throw BridgeLoadError(answersLeft > 0 ? BridgeLoadError::Code::noAcknowledgement
                                                  : BridgeLoadError::Code::missingDatagram);
        }
        const int ready = ::epoll_wait(epoll_, events, 64, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            throw BridgeLoadError(BridgeLoadError::Code::poll);
        }
        for (int e = 0; e < ready; ++e) {
            const std::uint32_t token = events[e].data.u32;
            if (token == oscToken) {
                std::vector<std::uint8_t> datagram(65536);
                for (;;) {
                    datagram.resize(65536);
                    const ssize_t got = ::recv(oscSocket_, datagram.data(), datagram.size(), 0);
                    const auto arrival = Clock::now();
                    if (got < 0) {
                        break;
                    }
                    datagram.resize(static_cast<std::size_t>(got));
                    auto address = testing::oscAddressOf(datagram);
                    const auto found = awaited.find(address);
                    if (found == awaited.end()) {
                        throw BridgeLoadError(arrived_.contains(address)
                                                  ? BridgeLoadError::Code::repeatedDatagram
                                                  : BridgeLoadError::Code::unexpectedDatagram);
                    }
                    batch.commands[found->second].cue =
                        millisecondsBetween(sent[found->second], arrival);
                    awaited.erase(found);
                    arrived_.insert(std::move(address));
                }
                continue;
            }
            const auto messages = iPads_.at(token)->readAvailable();
            const auto arrival = Clock::now();
            for (const auto& message : messages) {
                const auto* answer = message.bodyIf<TessaroBridgeAcknowledgement>();
                if (answer == nullptr || answered[token]) {
                    throw BridgeLoadError(BridgeLoadError::Code::unexpectedAnswer);
                }
                if (answer->commandID != commands[token].id || answer->status != expected) {
                    throw BridgeLoadError(BridgeLoadError::Code::wrongAnswer);
                }
                answered[token] = true;
                --answersLeft;
                batch.commands[token].acknowledgement = millisecondsBetween(sent[token], arrival);
            }
        }
    }
    return batch;
}

std::size_t LoadClient::drainDatagrams(std::chrono::milliseconds wait,
                                       const std::string& tolerated) {
    const auto deadline = Clock::now() + wait;
    std::size_t toleratedCount = 0;
    std::vector<std::uint8_t> datagram(65536);
    for (;;) {
        datagram.resize(65536);
        const ssize_t got = ::recv(oscSocket_, datagram.data(), datagram.size(), 0);
        if (got >= 0) {
            datagram.resize(static_cast<std::size_t>(got));
            const auto address = testing::oscAddressOf(datagram);
            if (!tolerated.empty() && address == tolerated) {
                ++toleratedCount;
                continue;
            }
            throw BridgeLoadError(arrived_.contains(address)
                                      ? BridgeLoadError::Code::repeatedDatagram
                                      : BridgeLoadError::Code::unexpectedDatagram);
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            return toleratedCount;
        }
        pollfd descriptor{oscSocket_, POLLIN, 0};
        ::poll(&descriptor, 1, static_cast<int>(left.count()));
    }
}

} // namespace varnello::bench
