#include "core/BridgeIdentityError.h"

namespace varnello {
namespace {

std::string describe(BridgeIdentityError::Code code, std::int32_t status) {
    switch (code) {
    case BridgeIdentityError::Code::keychain:
        return "Could not save the stable Bridge identity (Keychain " + std::to_string(status) +
               ").";
    }
    return {};
}

} // namespace

BridgeIdentityError::BridgeIdentityError(Code code, std::int32_t status)
    : code_(code), status_(status), message_(describe(code, status)) {}

BridgeIdentityError BridgeIdentityError::keychain(std::int32_t status) {
    return BridgeIdentityError(Code::keychain, status);
}

} // namespace varnello
