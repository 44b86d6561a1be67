#include "server/BonjourPublisher.h"

#include "server/AvahiTestDaemon.h"
#include "server/BonjourAdvertisement.h"
#include "support/DnsServiceBrowser.h"
#include "support/ManualExecutor.h"
#include "support/RecordingLogSink.h"
#include "support/Uuid.h"

#include <algorithm>
#include <avahi-common/error.h>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <thread>

namespace varnello {
namespace {

using test::AvahiTestDaemon;
using testing::BrowsedService;
using Txt = std::map<std::string, std::string>;

AvahiTestDaemon* daemon = nullptr;

class BonjourPublisherTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { daemon = new AvahiTestDaemon(); }
    static void TearDownTestSuite() {
        delete daemon;
        daemon = nullptr;
    }

    void SetUp() override {
        ASSERT_FALSE(daemon->failedToStart()) << "could not start an avahi-daemon on loopback";
        if (!daemon->isAvailable()) {
            GTEST_SKIP() << "no avahi-daemon runs and none can be started here";
        }
    }

    // A fresh display name, so that runs and tests never see each other's services.
    static std::string uniqueDisplayName(const std::string& base) {
        return base + " " + Uuid::random().text().substr(0, 6);
    }

    // Runs the main thread's work until `done` holds, for at most 15 seconds.
    bool runMainUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline) {
            mainThread.runDue();
            if (done()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // The _tessaro._tcp services, browsed until every name in `names` is among them
    // (or the browse gives up): a daemon may see a new service a moment late.
    static std::map<std::string, BrowsedService> browseFor(const std::set<std::string>& names) {
        const auto services = testing::browseUntil("_tessaro._tcp", [&names](const auto& found) {
            return std::all_of(names.begin(), names.end(), [&found](const std::string& name) {
                return testing::serviceNamed(found, name).has_value();
            });
        });
        std::map<std::string, BrowsedService> byName;
        for (const auto& service : services) {
            byName[service.name] = service;
        }
        return byName;
    }

    // Browses until `name` is no longer announced: a withdrawn service lingers in
    // the daemon's cache for about a second.
    static bool waitUntilGone(const std::string& name) {
        const auto services = testing::browseUntil("_tessaro._tcp", [&name](const auto& found) {
            return !testing::serviceNamed(found, name);
        });
        return !testing::serviceNamed(services, name);
    }

    static std::vector<LogRecord> linesWith(const RecordingLogSink& sink, const std::string& text) {
        std::vector<LogRecord> found;
        for (const auto& record : sink.records()) {
            if (record.text.find(text) != std::string::npos) {
                found.push_back(record);
            }
        }
        return found;
    }

    bool waitForRegistration(const RecordingLogSink& sink, std::size_t count = 1) {
        return runMainUntil(
            [&] { return linesWith(sink, "Bonjour-service geregistreerd: ").size() >= count; });
    }

    ManualExecutor mainThread;
    std::shared_ptr<RecordingLogSink> logSink = std::make_shared<RecordingLogSink>();
    const std::string id = "fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210";
};

TEST_F(BonjourPublisherTest, PublishedServiceIsFoundWithItsNamePortAndTxtRecord) {
    const auto displayName = uniqueDisplayName("B\u00fchne links");
    const auto name = bonjourServiceName(displayName, id);
    BonjourPublisher publisher(mainThread, logSink);
    publisher.publish(name, 40123, bonjourTxtRecord(displayName, id));

    ASSERT_TRUE(waitForRegistration(*logSink));
    const auto records = logSink->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].category, "bonjour");
    EXPECT_EQ(records[0].level, LogLevel::standard);
    EXPECT_EQ(records[0].text, "Bonjour-service geregistreerd: " + name + "._tessaro._tcp.");

    const auto services = browseFor({name});
    ASSERT_EQ(services.count(name), 1u) << "avahi-browse does not see " << name;
    EXPECT_EQ(services.at(name).port, 40123);
    EXPECT_EQ(services.at(name).txt, (Txt{{"role", "bridge"},
                                          {"protocol", "1"},
                                          {"id", id},
                                          {"name", displayName},
                                          {"midi", "1"},
                                          {"osc", "1"}}));
}

TEST_F(BonjourPublisherTest, StopWithdrawsAndPublishingAgainReplaces) {
    const auto displayName = uniqueDisplayName("Podium");
    const auto name = bonjourServiceName(displayName, id);
    BonjourPublisher publisher(mainThread, logSink);
    publisher.stop(); // nothing published: nothing happens
    publisher.publish(name, 40001, bonjourTxtRecord(displayName, id));
    publisher.publish(name, 40002, bonjourTxtRecord(displayName, id));
    ASSERT_TRUE(waitForRegistration(*logSink));

    auto services = browseFor({name});
    ASSERT_EQ(services.count(name), 1u);
    EXPECT_EQ(services.at(name).port, 40002);

    publisher.stop();
    publisher.stop();
    EXPECT_FALSE(publisher.isPublished());
    EXPECT_TRUE(waitUntilGone(name)) << name << " is still announced";
    mainThread.runDue();
    EXPECT_TRUE(linesWith(*logSink, "failed").empty());
}

TEST_F(BonjourPublisherTest, NameCollisionTakesTheAlternativeName) {
    const auto displayName = uniqueDisplayName("Zaal");
    const auto name = bonjourServiceName(displayName, id);
    auto firstSink = std::make_shared<RecordingLogSink>();
    BonjourPublisher first(mainThread, firstSink);
    BonjourPublisher second(mainThread, logSink);

    first.publish(name, 40011, bonjourTxtRecord(displayName, id));
    ASSERT_TRUE(waitForRegistration(*firstSink));
    second.publish(name, 40012, bonjourTxtRecord(displayName, id));
    ASSERT_TRUE(waitForRegistration(*logSink));

    const auto alternative = name + " #2";
    EXPECT_EQ(logSink->records().back().text,
              "Bonjour-service geregistreerd: " + alternative + "._tessaro._tcp.");
    const auto services = browseFor({name, alternative});
    ASSERT_EQ(services.count(name), 1u);
    ASSERT_EQ(services.count(alternative), 1u);
    EXPECT_EQ(services.at(name).port, 40011);
    EXPECT_EQ(services.at(alternative).port, 40012);
}

TEST_F(BonjourPublisherTest, RefusedPublicationIsLoggedWithAvahiNumberAndText) {
    BonjourPublisher publisher(mainThread, logSink);
    // Avahi refuses an empty instance name.
    publisher.publish("", 40021, bonjourTxtRecord("x", id));
    ASSERT_TRUE(runMainUntil([&] { return !logSink->records().empty(); }));
    const auto record = logSink->records()[0];
    EXPECT_EQ(record.level, LogLevel::error);
    EXPECT_EQ(record.category, "bonjour");
    EXPECT_EQ(record.text, "Bonjour publication failed: Avahi error " +
                               std::to_string(AVAHI_ERR_INVALID_SERVICE_NAME) + ": " +
                               avahi_strerror(AVAHI_ERR_INVALID_SERVICE_NAME));
}

TEST_F(BonjourPublisherTest, DaemonRestartPublishesAgainAndALateDaemonIsWaitedFor) {
    if (!daemon->isRestartable()) {
        GTEST_SKIP() << "the running avahi-daemon was not started for this test";
    }
    const auto displayName = uniqueDisplayName("Foyer");
    const auto name = bonjourServiceName(displayName, id);
    BonjourPublisher publisher(mainThread, logSink);
    publisher.publish(name, 40031, bonjourTxtRecord(displayName, id));
    ASSERT_TRUE(waitForRegistration(*logSink));

    ASSERT_TRUE(daemon->stop());
    const auto disconnected = "Avahi error " + std::to_string(AVAHI_ERR_DISCONNECTED);
    ASSERT_TRUE(runMainUntil([&] { return !linesWith(*logSink, disconnected).empty(); }));

    // Published while no daemon runs: logged, then done once one appears.
    const auto lateName = bonjourServiceName(uniqueDisplayName("Kelder"), id);
    auto lateSink = std::make_shared<RecordingLogSink>();
    BonjourPublisher late(mainThread, lateSink);
    late.publish(lateName, 40032, bonjourTxtRecord("Kelder", id));
    ASSERT_TRUE(runMainUntil([&] { return !lateSink->records().empty(); }));
    EXPECT_EQ(lateSink->records()[0].text, "Bonjour publication failed: Avahi error " +
                                               std::to_string(AVAHI_ERR_NO_DAEMON) + ": " +
                                               avahi_strerror(AVAHI_ERR_NO_DAEMON));

    ASSERT_TRUE(daemon->start());
    ASSERT_TRUE(waitForRegistration(*logSink, 2));
    ASSERT_TRUE(waitForRegistration(*lateSink));
    const auto services = browseFor({name, lateName});
    EXPECT_EQ(services.count(name), 1u);
    EXPECT_EQ(services.count(lateName), 1u);
}

} // namespace
} // namespace varnello
