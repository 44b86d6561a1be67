#pragma once

#include "server/AsioServerQueue.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace varnello::test {

inline constexpr std::chrono::seconds eventTimeout{5};

// Runs work on the queue and waits for its result.
template <typename Work> auto onQueue(AsioServerQueue& queue, Work work) -> decltype(work()) {
    using Result = decltype(work());
    auto promise = std::make_shared<std::promise<Result>>();
    auto future = promise->get_future();
    queue.post([promise, work]() mutable {
        if constexpr (std::is_void_v<Result>) {
            work();
            promise->set_value();
        } else {
            promise->set_value(work());
        }
    });
    if (future.wait_for(eventTimeout) != std::future_status::ready) {
        throw std::runtime_error("the server queue did not answer");
    }
    return future.get();
}

// Records values from any thread and lets the test wait for them.
template <typename Value> class Recorder {
public:
    void add(Value value) {
        {
            std::lock_guard lock(mutex_);
            values_.push_back(std::move(value));
        }
        changed_.notify_all();
    }

    // All values once there are at least `count`; throws after the timeout.
    std::vector<Value> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, eventTimeout, [&] { return values_.size() >= count; })) {
            throw std::runtime_error("timed out waiting for events");
        }
        return values_;
    }

    void clear() {
        std::lock_guard lock(mutex_);
        values_.clear();
    }

    std::vector<Value> values() const {
        std::lock_guard lock(mutex_);
        return values_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Value> values_;
};

// A blocking client socket with bounded waits, playing the peer.
class LoopbackClient {
public:
    // address: "127.0.0.1" or "::1". Throws when the connection fails.
    LoopbackClient(const std::string& address, std::uint16_t port) {
        const bool v6 = address.find(':') != std::string::npos;
        descriptor_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (descriptor_ < 0) {
            throw std::runtime_error("socket failed");
        }
        timeval timeout{5, 0};
        ::setsockopt(descriptor_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(descriptor_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        int result = -1;
        if (v6) {
            sockaddr_in6 peer{};
            peer.sin6_family = AF_INET6;
            peer.sin6_port = htons(port);
            ::inet_pton(AF_INET6, address.c_str(), &peer.sin6_addr);
            result = ::connect(descriptor_, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
        } else {
            sockaddr_in peer{};
            peer.sin_family = AF_INET;
            peer.sin_port = htons(port);
            ::inet_pton(AF_INET, address.c_str(), &peer.sin_addr);
            result = ::connect(descriptor_, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
        }
        if (result != 0) {
            ::close(descriptor_);
            throw std::runtime_error("connect failed");
        }
    }

    ~LoopbackClient() { ::close(descriptor_); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    void send(const std::vector<std::uint8_t>& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const auto n =
                ::send(descriptor_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                throw std::runtime_error("send failed");
            }
            sent += static_cast<std::size_t>(n);
        }
    }

    void finishSending() { ::shutdown(descriptor_, SHUT_WR); }

    // Makes the coming close reset the connection instead of ending it.
    void resetOnClose() {
        linger immediately{1, 0};
        ::setsockopt(descriptor_, SOL_SOCKET, SO_LINGER, &immediately, sizeof immediately);
    }

    // Reads until `count` bytes arrived or the stream ended.
    std::vector<std::uint8_t> read(std::size_t count) {
        std::vector<std::uint8_t> bytes(count);
        std::size_t got = 0;
        while (got < count) {
            const auto n = ::recv(descriptor_, bytes.data() + got, count - got, 0);
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }

    // True when the peer closed: a read returns end of stream (or a reset).
    bool seesEndOfStream() {
        std::uint8_t byte = 0;
        const auto n = ::recv(descriptor_, &byte, 1, 0);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }

private:
    int descriptor_ = -1;
};

// A port on 127.0.0.1 that was free a moment ago.
inline std::uint16_t freeLoopbackPort() {
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(descriptor);
    return ntohs(address.sin_port);
}

inline std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

} // namespace varnello::test
