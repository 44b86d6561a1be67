#include "server/DescriptorLimit.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace varnello {
namespace {

TEST(DescriptorLimit, RaisesTheSoftLimitToTheHardLimit) {
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    if (original.rlim_max < 64) {
        GTEST_SKIP() << "hard limit too low to lower the soft one";
    }
    rlimit lowered = original;
    lowered.rlim_cur = 32;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    ASSERT_EQ(descriptorLimit(), 32U);

    const std::uint64_t raised = raiseDescriptorLimit();
    rlimit now{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &now), 0);
    EXPECT_EQ(now.rlim_cur, now.rlim_max);
    EXPECT_EQ(now.rlim_max, original.rlim_max) << "the hard limit stays";
    EXPECT_EQ(raised, descriptorLimit());
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &original), 0);
}

} // namespace
} // namespace varnello
