// What the service manager hears from the coordinator, and the watchdog that the
// server queue itself feeds.

#include "BridgeCoordinatorTestSupport.h"
#include "core/ServerQueueWatchdog.h"
#include "server/AsioServerQueue.h"
#include "support/RecordingServiceNotifier.h"

#include <algorithm>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace varnello {
namespace {

using namespace std::chrono_literals;
using testing::CoordinatorFixture;

class ServiceManagerTest : public CoordinatorFixture {
protected:
    std::shared_ptr<BridgeCoordinator> makeSupervisedCoordinator() {
        auto environment = this->environment();
        environment.serviceNotifier = notifier;
        return BridgeCoordinator::create(preferences, main, environment);
    }

    std::shared_ptr<testing::FakeTcpListener> iPadListener() const {
        return serverHost->transport.listeners.at(0);
    }

    std::shared_ptr<RecordingServiceNotifier> notifier =
        std::make_shared<RecordingServiceNotifier>();
};

TEST_F(ServiceManagerTest, EachStateChangeIsToldReadyOnceAndStoppingBeforeTheStop) {
    auto coordinator = makeSupervisedCoordinator();
    coordinator->start();
    main.runDue();
    EXPECT_EQ(notifier->texts(), (std::vector<std::string>{"STATUS=Starten…"}));

    iPadListener()->boundPort = 40123;
    iPadListener()->report(TcpListener::State::ready);
    main.runDue();
    // A client count alone is no new state.
    iPadListener()->connect();
    main.runDue();
    ASSERT_EQ(coordinator->connectedClientCount(), 1);
    EXPECT_EQ(notifier->texts(),
              (std::vector<std::string>{"STATUS=Starten…",
                                        "STATUS=Beschikbaar via wifi (TCP 40123)", "READY=1"}));

    iPadListener()->report(TcpListener::State::waiting, TransportError(101, "Network is down"));
    main.runDue();
    iPadListener()->report(TcpListener::State::ready);
    main.runDue();
    ASSERT_TRUE(coordinator->finishServer(BridgeCoordinator::stopGrace));
    EXPECT_EQ(notifier->texts(),
              (std::vector<std::string>{
                  "STATUS=Starten…", "STATUS=Beschikbaar via wifi (TCP 40123)", "READY=1",
                  "STATUS=Waiting for network: Network is down",
                  "STATUS=Beschikbaar via wifi (TCP 40123)", "STOPPING=1", "STATUS=Stopped"}));
}

TEST_F(ServiceManagerTest, AFailedStartIsToldAndNeverReady) {
    auto coordinator = makeSupervisedCoordinator();
    coordinator->server();
    serverHost->transport.failingCreation = 1;
    serverHost->transport.creationError = TransportError(98, "Address already in use");
    coordinator->start();
    main.runDue();
    EXPECT_EQ(notifier->texts(),
              (std::vector<std::string>{"STATUS=Network error: Address already in use"}));
}

// A queue stuck in a handler may still use the server: it must not be released.
TEST_F(ServiceManagerTest, AQueueThatCannotFinishKeepsTheServer) {
    auto coordinator = makeSupervisedCoordinator();
    coordinator->start();
    main.runDue();
    BridgeServer* server = &coordinator->server();
    serverHost->queueEnds = false;
    EXPECT_FALSE(coordinator->finishServer(BridgeCoordinator::stopGrace));
    EXPECT_EQ(&coordinator->server(), server);
    serverHost->queueEnds = true;
    EXPECT_TRUE(coordinator->finishServer(BridgeCoordinator::stopGrace));
    EXPECT_EQ(serverHostFinishes, 2);
}

TEST(ServerQueueWatchdogTest, IntervalIsHalfTheTimeoutAndAtLeastAMillisecond) {
    const struct {
        std::chrono::microseconds timeout;
        std::chrono::milliseconds interval;
    } cases[] = {
        {90s, 45s}, {1s, 500ms}, {3ms, 1ms}, {2ms, 1ms}, {1ms, 1ms}, {1us, 1ms}, {0us, 1ms},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ServerQueueWatchdog::intervalFor(c.timeout), c.interval) << c.timeout.count();
    }
}

TEST(ServerQueueWatchdogTest, NothingRunsWhenTheServiceManagerDoesNotWatch) {
    AsioServerQueue queue;
    EXPECT_EQ(ServerQueueWatchdog::start(queue.context(), nullptr), nullptr);
    auto unwatched = std::make_shared<RecordingServiceNotifier>(std::nullopt);
    EXPECT_EQ(ServerQueueWatchdog::start(queue.context(), unwatched), nullptr);
    EXPECT_TRUE(queue.stop(5s));
    EXPECT_TRUE(unwatched->texts().empty());
}

std::thread::id queueThread(AsioServerQueue& queue) {
    std::promise<std::thread::id> id;
    queue.post([&id] { id.set_value(std::this_thread::get_id()); });
    return id.get_future().get();
}

TEST(ServerQueueWatchdogTest, TheQueueItselfCallsAtHalfTheTimeout) {
    AsioServerQueue queue;
    const auto thread = queueThread(queue);
    // Every 20 ms: about 25 calls in half a second.
    auto notifier = std::make_shared<RecordingServiceNotifier>(40ms);
    auto watchdog = ServerQueueWatchdog::start(queue.context(), notifier);
    ASSERT_NE(watchdog, nullptr);
    std::this_thread::sleep_for(500ms);
    watchdog->stop();
    EXPECT_TRUE(queue.stop(5s));

    const auto calls = notifier->notifications();
    EXPECT_GE(calls.size(), 5u);
    EXPECT_LE(calls.size(), 40u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.text, "WATCHDOG=1");
        EXPECT_EQ(call.thread, thread);
    }
}

TEST(ServerQueueWatchdogTest, AStoppedWatchdogLetsTheQueueFinishAtOnce) {
    AsioServerQueue queue;
    // The next call would be an hour away and hold the queue for the whole grace.
    auto notifier = std::make_shared<RecordingServiceNotifier>(2h);
    auto watchdog = ServerQueueWatchdog::start(queue.context(), notifier);
    ASSERT_NE(watchdog, nullptr);
    queueThread(queue);
    EXPECT_EQ(notifier->texts(), (std::vector<std::string>{"WATCHDOG=1"}));
    watchdog->stop();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(queue.stop(60s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
}

} // namespace
} // namespace varnello
