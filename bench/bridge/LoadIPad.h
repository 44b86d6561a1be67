#pragma once

#include "protocol/TessaroBridgeAcknowledgement.h"
#include "protocol/TessaroBridgeCommand.h"
#include "protocol/TessaroBridgeMessage.h"

#include <cstdint>
#include <optional>
#include <string>

namespace varnello::bench {

// One iPad on a TCP connection to 127.0.0.1: the hello exchange, then one
// command at a time. Every read and write gives up after 10 seconds.
class LoadIPad {
public:
    // Connects, reads the bridge's hello and answers with its own. Throws
    // BridgeLoadError(connect, noHello, send).
    LoadIPad(std::uint16_t port, const std::string& peerID);
    ~LoadIPad();

    LoadIPad(const LoadIPad&) = delete;
    LoadIPad& operator=(const LoadIPad&) = delete;

    void send(const TessaroBridgeCommand& command);
    // The next acknowledgement; throws BridgeLoadError(noAcknowledgement) when none
    // arrives in time or another message comes.
    TessaroBridgeAcknowledgement receiveAcknowledgement();

private:
    void sendMessage(const TessaroBridgeMessage& message);
    std::optional<TessaroBridgeMessage> receive();
    bool readExactly(std::uint8_t* bytes, std::size_t count);

    int socket_ = -1;
};

} // namespace varnello::bench
