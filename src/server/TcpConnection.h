#pragma once

#include "server/TransportError.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace varnello {

// One accepted TCP connection. Created by a listener, not yet started. Every
// method is called on the server queue, and every handler and completion runs
// there.
class TcpConnection {
public:
    enum class State { setup, preparing, ready, waiting, failed, cancelled };

    // error is set with waiting and failed.
    using StateHandler = std::function<void(State state, const std::optional<TransportError>& error)>;
    // content may be empty; isComplete is set once the peer has finished sending.
    using ReceiveCompletion = std::function<void(std::vector<std::uint8_t> content, bool isComplete,
                                                 const std::optional<TransportError>& error)>;
    using SendCompletion = std::function<void(const std::optional<TransportError>& error)>;

    virtual ~TcpConnection() = default;

    virtual void setStateUpdateHandler(StateHandler handler) = 0;
    // Starts the connection on the server queue; reports ready, or failed.
    virtual void start() = 0;
    // One completion with 1 to maximumLength bytes (or the end of the stream,
    // or an error). The caller issues the next receive itself.
    virtual void receive(std::size_t minimumIncompleteLength, std::size_t maximumLength,
                         ReceiveCompletion completion) = 0;
    // The bytes go out whole and in order after those of earlier sends; the
    // stream stays open.
    virtual void send(std::vector<std::uint8_t> content, SendCompletion completion) = 0;
    // Closes the connection; pending receives and sends complete with an
    // error, then cancelled is reported.
    virtual void cancel() = 0;
};

} // namespace varnello
