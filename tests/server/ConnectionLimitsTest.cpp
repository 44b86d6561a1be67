#include "server/ConnectionLimits.h"

#include <gtest/gtest.h>
#include <limits>

namespace varnello {
namespace {

struct LimitCase {
    std::uint64_t descriptorLimit;
    ConnectionLimits expected;
};

TEST(ConnectionLimits, CapsLeaveRoomForEverythingElseUnderEveryDescriptorLimit) {
    const LimitCase cases[] = {
        {1024, {512, 64}},                                      // the usual soft limit
        {524288, {512, 64}},                                    // systemd's usual hard limit
        {std::numeric_limits<std::uint64_t>::max(), {512, 64}}, // unlimited
        {512, {288, 48}},
        {256, {96, 16}},
        {64, {24, 4}},
        {2, {1, 1}}, // nothing sensible fits; still one of each
    };
    for (const auto& given : cases) {
        const auto limits = ConnectionLimits::forDescriptorLimit(given.descriptorLimit);
        EXPECT_EQ(limits, given.expected) << given.descriptorLimit;
        if (given.descriptorLimit >= 64) {
            // At least a quarter of the descriptors stays free of connections.
            EXPECT_LE((limits.maximumClientConnections + limits.maximumAgentControlConnections) * 4,
                      given.descriptorLimit * 3)
                << given.descriptorLimit;
        }
    }
}

} // namespace
} // namespace varnello
