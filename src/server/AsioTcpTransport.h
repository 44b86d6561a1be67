#pragma once

#include "server/TcpTransport.h"

#include <asio/io_context.hpp>

namespace varnello {

// Makes Asio TCP listeners whose handlers, and those of their connections,
// run on the thread that runs `context` (the server queue). The context must
// outlive every listener and connection made here. Thread-safe.
class AsioTcpTransport final : public TcpTransport {
public:
    explicit AsioTcpTransport(asio::io_context& context);

    // Fails with TransportError (EINVAL) when the required local endpoint is
    // not a numeric address or a keepalive value is out of range.
    std::shared_ptr<TcpListener> makeListener(const TcpListenerParameters& parameters) override;

private:
    asio::io_context& context_;
};

} // namespace varnello
