#include "server/AsioServerQueue.h"

#include "server/TransportTestSupport.h"

#include <array>
#include <future>
#include <gtest/gtest.h>
#include <pthread.h>
#include <thread>

namespace varnello {
namespace {

using test::onQueue;
using test::Recorder;

TEST(AsioServerQueueTest, RunsWorkOnItsOwnNamedThread) {
    AsioServerQueue queue;
    EXPECT_FALSE(queue.isCurrent());
    const auto [name, current] = onQueue(queue, [&queue] {
        std::array<char, 16> buffer{};
        pthread_getname_np(pthread_self(), buffer.data(), buffer.size());
        return std::make_pair(std::string(buffer.data()), queue.isCurrent());
    });
    EXPECT_EQ(name, "TessaroBridge");
    EXPECT_TRUE(current);
}

TEST(AsioServerQueueTest, RunsPostedWorkInPostingOrder) {
    AsioServerQueue queue;
    Recorder<int> order;
    std::vector<int> expected;
    for (int i = 0; i < 200; ++i) {
        queue.post([&order, i] { order.add(i); });
        expected.push_back(i);
    }
    EXPECT_EQ(order.waitFor(200), expected);
}

TEST(AsioServerQueueTest, RunsDelayedWorkByDeadlineAndNotBeforeIt) {
    AsioServerQueue queue;
    using Clock = std::chrono::steady_clock;
    Recorder<std::pair<int, Clock::duration>> order;
    const auto posted = Clock::now();
    queue.postAfter(std::chrono::milliseconds(60), [&] { order.add({2, Clock::now() - posted}); });
    queue.postAfter(std::chrono::milliseconds(20), [&] { order.add({1, Clock::now() - posted}); });
    const auto done = order.waitFor(2);
    EXPECT_EQ(done[0].first, 1);
    EXPECT_EQ(done[1].first, 2);
    EXPECT_GE(done[0].second, std::chrono::milliseconds(20));
    EXPECT_GE(done[1].second, std::chrono::milliseconds(60));
}

TEST(AsioServerQueueTest, StopLetsQueuedWorkFinishWithinTheGrace) {
    Recorder<int> done;
    {
        AsioServerQueue queue;
        queue.post([&] {
            queue.post([&] { done.add(2); });
            done.add(1);
        });
        queue.postAfter(std::chrono::milliseconds(20), [&] { done.add(3); });
        EXPECT_TRUE(queue.stop(std::chrono::seconds(5)));
        // Work posted after the stop is dropped.
        queue.post([&] { done.add(99); });
    }
    EXPECT_EQ(done.values(), (std::vector<int>{1, 2, 3}));
}

TEST(AsioServerQueueTest, StopEndsAtTheGraceWhenWorkIsStillWaiting) {
    Recorder<int> done;
    AsioServerQueue queue;
    queue.postAfter(std::chrono::hours(1), [&] { done.add(1); });
    const auto started = std::chrono::steady_clock::now();
    // A waiting timer is no running handler: the thread ends.
    EXPECT_TRUE(queue.stop(std::chrono::milliseconds(50)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_TRUE(done.values().empty());
}

// Regression: every connection's 30-second time-outs held each stop of the
// program for its whole grace.
TEST(AsioServerQueueTest, StopDoesNotWaitForTimersThatCannotFireWithinTheGrace) {
    Recorder<int> done;
    AsioServerQueue queue;
    queue.postAfter(std::chrono::seconds(30), [&] { done.add(1); });
    queue.post([&] {
        // Posted once the stop has begun, by work that runs in the grace.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        queue.postAfter(std::chrono::seconds(30), [&] { done.add(2); });
        queue.postAfter(std::chrono::milliseconds(10), [&] { done.add(3); });
    });
    const auto started = std::chrono::steady_clock::now();
    queue.stop(std::chrono::seconds(20));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(done.values(), std::vector<int>{3});
}

// A handler that never returns (a name lookup that hangs) must not hang the stop.
TEST(AsioServerQueueTest, StopLeavesAStuckHandlerBehindAndSaysSo) {
    auto release = std::make_shared<std::promise<void>>();
    auto released = std::make_shared<std::shared_future<void>>(release->get_future().share());
    Recorder<int> done;
    auto queue = std::make_unique<AsioServerQueue>();
    queue->post([released, &done] {
        done.add(1);
        released->wait();
    });
    done.waitFor(1);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue->stop(std::chrono::milliseconds(50)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_FALSE(queue->stop()) << "still stuck";
    // Neither a second stop nor the destructor waits for the thread.
    queue.reset();
    release->set_value();
    // The left thread ends on its own once released; give it the moment it needs, so
    // that the leak check at exit does not count what it still holds.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// Regression: a queue released by its own last handler must not join its own thread.
TEST(AsioServerQueueTest, MayBeDestroyedFromItsOwnThread) {
    auto holder =
        std::make_shared<std::unique_ptr<AsioServerQueue>>(std::make_unique<AsioServerQueue>());
    Recorder<bool> destroyed;
    (*holder)->post([holder, &destroyed] {
        holder->reset();
        destroyed.add(true);
    });
    EXPECT_TRUE(destroyed.waitFor(1)[0]);
}

} // namespace
} // namespace varnello
