#include "server/AsioTransportErrors.h"

namespace varnello {

TransportError transportErrorFromErrno(int errorNumber) {
    return TransportError(errorNumber, std::generic_category().message(errorNumber));
}

TransportError transportErrorFrom(const std::error_code& error) {
    if (error.category() == std::system_category() || error.category() == std::generic_category()) {
        return transportErrorFromErrno(error.value());
    }
    return TransportError(error.value(), error.message());
}

} // namespace varnello
