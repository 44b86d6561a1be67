#include "core/BridgePreferencesError.h"

namespace varnello {
namespace {

std::string describe(BridgePreferencesError::Code code, int errorNumber) {
    switch (code) {
    case BridgePreferencesError::Code::invalidHost:
        return "Enter a valid host name or IP address.";
    case BridgePreferencesError::Code::invalidPort:
        return "The UDP port must be between 1 and 65535.";
    case BridgePreferencesError::Code::saveFailed:
        return "Could not save the Bridge preferences (error " + std::to_string(errorNumber) + ").";
    }
    return {};
}

} // namespace

BridgePreferencesError::BridgePreferencesError(Code code, int errorNumber)
    : code_(code), errorNumber_(errorNumber), message_(describe(code, errorNumber)) {}

BridgePreferencesError BridgePreferencesError::invalidHost() {
    return BridgePreferencesError(Code::invalidHost, 0);
}

BridgePreferencesError BridgePreferencesError::invalidPort() {
    return BridgePreferencesError(Code::invalidPort, 0);
}

BridgePreferencesError BridgePreferencesError::saveFailed(int errorNumber) {
    return BridgePreferencesError(Code::saveFailed, errorNumber);
}

} // namespace varnello
