#include "core/BridgePreferencesError.h"

#include <utility>

namespace varnello {
namespace {

std::string describe(BridgePreferencesError::Code code, int errorNumber,
                     const std::string& storedValue) {
    switch (code) {
    case BridgePreferencesError::Code::invalidHost:
        return "Enter a valid host name or IP address.";
    case BridgePreferencesError::Code::invalidPort:
        return "The UDP port must be between 1 and 65535.";
    case BridgePreferencesError::Code::saveFailed:
        return "Could not save the Bridge preferences (error " + std::to_string(errorNumber) + ").";
    case BridgePreferencesError::Code::invalidIPadPort:
        return "The preference \u2018iPadPort\u2019 must be a TCP port between 1 and 65535, not "
               "\u2018" +
               storedValue + "\u2019.";
    }
    return {};
}

} // namespace

BridgePreferencesError::BridgePreferencesError(Code code, int errorNumber, std::string storedValue)
    : code_(code), errorNumber_(errorNumber), storedValue_(std::move(storedValue)),
      message_(describe(code_, errorNumber_, storedValue_)) {}

BridgePreferencesError BridgePreferencesError::invalidHost() {
    return BridgePreferencesError(Code::invalidHost, 0);
}

BridgePreferencesError BridgePreferencesError::invalidPort() {
    return BridgePreferencesError(Code::invalidPort, 0);
}

BridgePreferencesError BridgePreferencesError::saveFailed(int errorNumber) {
    return BridgePreferencesError(Code::saveFailed, errorNumber);
}

BridgePreferencesError BridgePreferencesError::invalidIPadPort(std::string storedValue) {
    return BridgePreferencesError(Code::invalidIPadPort, 0, std::move(storedValue));
}

} // namespace varnello
