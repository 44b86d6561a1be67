#pragma once

#include "protocol/TessaroBridgeCommand.h"
#include "protocol/TessaroBridgeFrameDecoder.h"
#include "protocol/TessaroBridgeMessage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varnello::bench {

// One iPad on a TCP connection to 127.0.0.1. The hello exchange is made blocking,
// each read and write giving up after 10 seconds; the socket is non-blocking after
// that, for the report's one thread to drive many of them. Called from that thread
// only.
class LoadIPad {
public:
    // Connects, reads the bridge's hello and answers with its own. Throws
    // BridgeLoadError(connect, noHello, send).
    LoadIPad(std::uint16_t port, const std::string& peerID);
    ~LoadIPad();

    LoadIPad(const LoadIPad&) = delete;
    LoadIPad& operator=(const LoadIPad&) = delete;

    int descriptor() const noexcept { return socket_; }

    // Sends the whole frame at once, as a small frame on an idle connection always
    // goes. Throws BridgeLoadError(send) when it does not.
    void send(const TessaroBridgeCommand& command);
    // Every message the bytes available now complete, without waiting. Throws
    // BridgeLoadError(closed, unexpectedAnswer).
    std::vector<TessaroBridgeMessage> readAvailable();

private:
    void sendBytes(const std::vector<std::uint8_t>& bytes);

    int socket_ = -1;
    TessaroBridgeFrameDecoder decoder_;
};

} // namespace varnello::bench
