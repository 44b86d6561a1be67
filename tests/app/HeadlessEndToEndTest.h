#pragma once

#include "BridgeProcess.h"
#include "support/LoopbackConnection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace varnello::endtoend {

using varnello::testing::BridgeProcess;

// A peer speaking the bridge's framing with its own encoder: a 4-byte
// big-endian length, then the JSON text. Reads give up after 5 seconds.
class FramedConnection {
public:
    explicit FramedConnection(std::uint16_t port);
    ~FramedConnection();

    FramedConnection(const FramedConnection&) = delete;
    FramedConnection& operator=(const FramedConnection&) = delete;

    bool connected() const noexcept { return connected_; }
    int descriptor() const noexcept { return socket_; }
    // The JSON in one frame.
    bool send(const std::string& json);
    // Bytes as they are, framed or not.
    bool sendBytes(const std::string& bytes);
    // The next frame's JSON; nothing when the stream ends or stays silent.
    std::optional<nlohmann::json> receive();

private:
    bool readExactly(std::string& bytes);

    int socket_ = -1;
    bool connected_ = false;
};

// The 4-byte big-endian length followed by the text.
std::string frame(const std::string& json);

inline std::string frame(const std::string& json) {
    const auto length = static_cast<std::uint32_t>(json.size());
    std::string bytes{static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                      static_cast<char>(length >> 8), static_cast<char>(length)};
    return bytes + json;
}

inline FramedConnection::FramedConnection(std::uint16_t port) {
    socket_ = testing::connectToLoopback(port, std::chrono::seconds(5));
    connected_ = socket_ >= 0;
}

inline FramedConnection::~FramedConnection() {
    ::close(socket_);
}

inline bool FramedConnection::send(const std::string& json) {
    return sendBytes(frame(json));
}

inline bool FramedConnection::sendBytes(const std::string& bytes) {
    return ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

inline std::optional<nlohmann::json> FramedConnection::receive() {
    std::string prefix(4, '\0');
    if (!readExactly(prefix)) {
        return std::nullopt;
    }
    const auto byte = [&](int i) { return static_cast<std::uint32_t>(std::uint8_t(prefix[i])); };
    std::string payload((byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3), '\0');
    if (!readExactly(payload)) {
        return std::nullopt;
    }
    return nlohmann::json::parse(payload, nullptr, false);
}

inline bool FramedConnection::readExactly(std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::recv(socket_, bytes.data() + done, bytes.size() - done, 0);
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace varnello::endtoend
