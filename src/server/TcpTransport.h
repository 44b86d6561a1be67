#pragma once

#include "server/TcpListener.h"
#include "server/TcpListenerParameters.h"

#include <memory>

namespace varnello {

// Makes TCP listeners whose handlers run on the server queue. Thread-safe.
class TcpTransport {
public:
    virtual ~TcpTransport() = default;

    // Fails with TransportError when the parameters cannot be used.
    virtual std::shared_ptr<TcpListener> makeListener(const TcpListenerParameters& parameters) = 0;
};

} // namespace varnello
