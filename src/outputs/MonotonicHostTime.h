#pragma once

#include "outputs/MIDISystem.h"

namespace varnello {

// Nanoseconds of the monotonic clock: the time base of emitted packets on
// Linux, where delivery is immediate and the stamp only records when.
// Thread-safe.
MIDITimeStamp monotonicHostTime() noexcept;

} // namespace varnello
