#include "outputs/MonotonicHostTime.h"

#include <ctime>

namespace varnello {

MIDITimeStamp monotonicHostTime() noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<MIDITimeStamp>(now.tv_sec) * 1'000'000'000U +
           static_cast<MIDITimeStamp>(now.tv_nsec);
}

} // namespace varnello
