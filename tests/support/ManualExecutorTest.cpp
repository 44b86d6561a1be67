#include "support/ManualExecutor.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace varnello {
namespace {

using namespace std::chrono_literals;

TEST(ManualExecutor, RunsPostedWorkInOrderOnlyWhenAsked) {
    ManualExecutor executor;
    std::string trace;
    executor.post([&] {
        trace += 'a';
        executor.post([&] { trace += 'c'; });
    });
    executor.post([&] { trace += 'b'; });
    EXPECT_EQ(trace, "");
    EXPECT_EQ(executor.runDue(), 3u);
    EXPECT_EQ(trace, "abc");
}

TEST(ManualExecutor, DelayedWorkRunsWhenTimeReachesIt) {
    ManualExecutor executor;
    std::string trace;
    executor.postAfter(10s, [&] { trace += "late"; });
    executor.postAfter(5s, [&] { trace += "early,"; });
    executor.advance(4999ms);
    EXPECT_EQ(trace, "");
    executor.advance(1ms);
    EXPECT_EQ(trace, "early,");
    executor.advance(5s);
    EXPECT_EQ(trace, "early,late");
    EXPECT_EQ(executor.now(), 10s);
    EXPECT_EQ(executor.pendingCount(), 0u);
}

TEST(ManualExecutor, IsCurrentOnlyOnItsOwnThread) {
    ManualExecutor executor;
    EXPECT_TRUE(executor.isCurrent());
    bool elsewhere = true;
    std::thread([&] {
        elsewhere = executor.isCurrent();
        executor.post([] {});
    }).join();
    EXPECT_FALSE(elsewhere);
    EXPECT_EQ(executor.runDue(), 1u);
}

} // namespace
} // namespace varnello
