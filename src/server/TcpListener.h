#pragma once

#include "server/TcpConnection.h"
#include "server/TransportError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace varnello {

// A TCP listener. Created on any thread; start, cancel and port are called on
// the server queue or before start, and every handler runs on the server queue.
class TcpListener {
public:
    enum class State { setup, waiting, ready, failed, cancelled };

    // error is set with waiting and failed.
    using StateHandler = std::function<void(State state, const std::optional<TransportError>& error)>;
    using NewConnectionHandler = std::function<void(std::shared_ptr<TcpConnection> connection)>;

    virtual ~TcpListener() = default;

    virtual void setStateUpdateHandler(StateHandler handler) = 0;
    virtual void setNewConnectionHandler(NewConnectionHandler handler) = 0;
    // Binds and listens on the server queue, then reports ready or failed (a
    // taken port is a failed report, not an exception).
    virtual void start() = 0;
    // The bound port once ready.
    virtual std::optional<std::uint16_t> port() const = 0;
    // Closes the listener, which then reports cancelled.
    virtual void cancel() = 0;
};

} // namespace varnello
