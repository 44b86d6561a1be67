#pragma once

#include "protocol/TessaroBridgeEnumerations.h"

#include <cstdint>
#include <set>
#include <span>
#include <string_view>

namespace varnello {

// The checks of hellos and command payloads. Each returns normally or throws
// the TessaroBridgeWireError of its first failing test. Texts may hold any
// bytes: text that is not well-formed UTF-8 fails like a control character.
// Thread-safe.

// Version, then peerID, then displayName, then a non-empty capability set.
void validateHello(std::int64_t protocolVersion, std::string_view peerID,
                   std::string_view displayName,
                   const std::set<TessaroBridgeCapability>& capabilities);

// One or more complete MIDI channel voice messages, each with its own status byte.
void validateMIDIBytes(std::span<const std::uint8_t> bytes);

// An OSC address: "/" and at least one more character, no white space, no
// control character, at most 1024 UTF-8 bytes.
void validateOSCAddress(std::string_view address);

} // namespace varnello
