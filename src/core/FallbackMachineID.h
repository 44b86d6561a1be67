#pragma once

#include "core/FallbackKeyStore.h"

#include <string>

namespace varnello {

// How many times the store may answer "duplicate" to an add after a search found
// nothing before we give up. A real race with another process settles after one
// repetition; an endless disagreement (a dangling symbolic link where the file
// should be: not found for reading, existing for creation) must not hang start-up.
inline constexpr int maximumDuplicateAnswers = 3;

// The stored random machine ID, created as a lower-case UUID on first use. Fails
// with BridgeIdentityError::keychain carrying the store's status; 0 for an item
// that is empty or not UTF-8, and duplicateItem when the store keeps answering
// "duplicate". Main thread.
std::string fallbackMachineID(FallbackKeyStore& store);

} // namespace varnello
