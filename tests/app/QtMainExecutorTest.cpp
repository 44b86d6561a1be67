#include "app/QtMainExecutor.h"

#include "QtTestApplication.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace varnello {
namespace {

using namespace std::chrono_literals;

class QtMainExecutorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing::qtTestApplication(); }

    // Runs the event loop until `done` holds, for at most five seconds.
    static bool runUntil(const std::function<bool()>& done) {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (done()) {
                loop.quit();
            }
        });
        poll.start(1);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        return done();
    }

    void record(const std::string& item) {
        std::lock_guard lock(mutex);
        order.push_back(item);
        onMainThread.push_back(executor.isCurrent());
    }

    std::vector<std::string> recorded() {
        std::lock_guard lock(mutex);
        return order;
    }

    QObject context;
    QtMainExecutor executor{context};
    std::mutex mutex;
    std::vector<std::string> order;
    std::vector<bool> onMainThread;
};

TEST_F(QtMainExecutorTest, PostRunsLaterOnTheEventLoopInOrder) {
    executor.post([this] { record("a"); });
    executor.post([this] { record("b"); });
    EXPECT_TRUE(recorded().empty());
    ASSERT_TRUE(runUntil([this] { return recorded().size() == 2; }));
    EXPECT_EQ(recorded(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(QtMainExecutorTest, WorkFromAnotherThreadRunsOnTheMainThread) {
    std::atomic<bool> currentThere{true};
    std::thread other([&] {
        currentThere = executor.isCurrent();
        executor.post([this] { record("posted"); });
        executor.postAfter(10ms, [this] { record("delayed"); });
    });
    other.join();
    EXPECT_FALSE(currentThere);
    EXPECT_TRUE(executor.isCurrent());
    ASSERT_TRUE(runUntil([this] { return recorded().size() == 2; }));
    EXPECT_EQ(recorded(), (std::vector<std::string>{"posted", "delayed"}));
    EXPECT_EQ(onMainThread, (std::vector<bool>{true, true}));
}

TEST_F(QtMainExecutorTest, DelayedWorkWaitsForItsTime) {
    const auto posted = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point ranAt;
    executor.postAfter(40ms, [this, &ranAt] {
        ranAt = std::chrono::steady_clock::now();
        record("late");
    });
    executor.postAfter(0ms, [this] { record("due"); });
    executor.post([this] { record("now"); });
    ASSERT_TRUE(runUntil([this] { return recorded().size() == 3; }));
    EXPECT_EQ(recorded().back(), "late");
    EXPECT_GE(ranAt - posted, 40ms);
}

TEST_F(QtMainExecutorTest, WorkForAContextThatIsGoneIsDropped) {
    bool ran = false;
    {
        auto gone = std::make_unique<QObject>();
        QtMainExecutor shortLived(*gone);
        shortLived.post([&ran] { ran = true; });
        shortLived.postAfter(1ms, [&ran] { ran = true; });
    }
    executor.postAfter(20ms, [this] { record("after"); });
    ASSERT_TRUE(runUntil([this] { return recorded().size() == 1; }));
    EXPECT_FALSE(ran);
}

} // namespace
} // namespace varnello
