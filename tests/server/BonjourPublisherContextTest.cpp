#include "server/BonjourPublisher.h"
#include "support/ManualExecutor.h"
#include "support/RecordingLogSink.h"

#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace varnello {
namespace {

class IdleRegistrar final : public DnsServiceRegistrar {
public:
    void setHandlers(Handlers) override {}
    void publish(const DnsServiceAdvertisement&) override {}
    void withdraw() override {}
};

// An executor whose thread has ended: the test thread is never on it.
std::unique_ptr<ManualExecutor> executorOfAnotherThread() {
    std::unique_ptr<ManualExecutor> executor;
    std::thread([&] { executor = std::make_unique<ManualExecutor>(); }).join();
    return executor;
}

TEST(BonjourPublisherContextDeathTest, RefusesCallsOffTheMainThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto sink = std::make_shared<RecordingLogSink>();
    ManualExecutor mainThread;
    BonjourPublisher publisher(mainThread, sink, std::make_unique<IdleRegistrar>());
    publisher.publish("n", 1, {});
    EXPECT_TRUE(publisher.isPublished());

    auto elsewhere = executorOfAnotherThread();
    EXPECT_DEBUG_DEATH(BonjourPublisher(*elsewhere, sink, std::make_unique<IdleRegistrar>()), "");
}

} // namespace
} // namespace varnello
