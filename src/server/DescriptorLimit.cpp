#include "server/DescriptorLimit.h"

#include <limits>
#include <sys/resource.h>

namespace varnello {

namespace {

std::uint64_t asCount(rlim_t value) {
    return value == RLIM_INFINITY ? std::numeric_limits<std::uint64_t>::max()
                                  : static_cast<std::uint64_t>(value);
}

} // namespace

std::uint64_t raiseDescriptorLimit() noexcept {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return descriptorLimit();
    }
    if (limit.rlim_cur != limit.rlim_max) {
        // The kernel may refuse a hard limit beyond its own (nr_open): the soft
        // limit then stays as it was, which still works.
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    return descriptorLimit();
}

std::uint64_t descriptorLimit() noexcept {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 1024;
    }
    return asCount(limit.rlim_cur);
}

} // namespace varnello
