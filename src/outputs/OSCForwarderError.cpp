#include "outputs/OSCForwarderError.h"

#include <utility>

namespace varnello {
namespace {

std::string describe(OSCForwarderError::Code code, const std::string& host,
                     std::int32_t errorNumber) {
    switch (code) {
    case OSCForwarderError::Code::cannotResolve:
        return "Could not find OSC host \u2018" + host + "\u2019.";
    case OSCForwarderError::Code::sendFailed:
        return "Could not send the OSC message over UDP (errno " + std::to_string(errorNumber) +
               ").";
    case OSCForwarderError::Code::disabled:
        return "OSC forwarding is disabled.";
    }
    return {};
}

} // namespace

OSCForwarderError::OSCForwarderError(Code code, std::string host, std::int32_t errorNumber)
    : code_(code), host_(std::move(host)), errorNumber_(errorNumber),
      message_(describe(code_, host_, errorNumber_)) {}

OSCForwarderError OSCForwarderError::cannotResolve(std::string host) {
    return OSCForwarderError(Code::cannotResolve, std::move(host), 0);
}

OSCForwarderError OSCForwarderError::sendFailed(std::int32_t errorNumber) {
    return OSCForwarderError(Code::sendFailed, {}, errorNumber);
}

OSCForwarderError OSCForwarderError::disabled() {
    return OSCForwarderError(Code::disabled, {}, 0);
}

} // namespace varnello
