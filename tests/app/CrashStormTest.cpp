// Kills the real bridge with SIGKILL at random moments while four iPads send OSC
// commands with distinct addresses (so that the bridge saves them in batches),
// restarts it on the same data folder each
// time, and at the end sends every identifier once more. A UDP receiver counts
// each address. VARNELLO_CRASH_STORM_KILLS and VARNELLO_CRASH_STORM_SEED make
// a longer or different storm.

#include "OscAddressTally.h"
#include "RealBridge.h"
#include "support/TemporaryFolder.h"
#include "support/Uuid.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace varnello::endtoend {
namespace {

using namespace std::chrono_literals;

int environmentNumber(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::atoi(text) : fallback;
}

struct Sent {
    std::string id;
    std::string address;
};

TEST(CrashStorm, NoCommandRunsTwiceAndNoAcknowledgedCommandIsLost) {
    if (std::getenv("VARNELLO_TEST_JACK") == nullptr) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    const int kills = environmentNumber("VARNELLO_CRASH_STORM_KILLS", 25);
    const int seed = environmentNumber("VARNELLO_CRASH_STORM_SEED", 20261210);
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    std::uniform_int_distribution<int> lifetime(20, 400);

    testing::TemporaryFolder folder;
    testing::OscAddressTally counter;
    RealBridge bridge(folder.path(), counter.port());
    constexpr int iPadsPerLife = 4;
    std::mutex mutex; // guards sent and acceptedIDs while the iPads send
    std::vector<Sent> sent;
    std::set<std::string> acceptedIDs;
    int failedLoads = 0;

    for (int life = 0; life < kills; ++life) {
        const auto port = bridge.start();
        if (!port) {
            ++failedLoads;
            ADD_FAILURE() << "start " << life << " did not get ready:\n"
                          << bridge.process().errorOutput();
            bridge.kill();
            continue;
        }
        std::vector<std::unique_ptr<FramedConnection>> iPads;
        for (int n = 0; n < iPadsPerLife; ++n) {
            iPads.push_back(connectIPad(*port));
            ASSERT_NE(iPads.back(), nullptr);
        }
        // The kill lands wherever the bridge happens to be: reading, saving,
        // sending the datagrams or answering.
        const pid_t pid = bridge.process().pid();
        const auto delay = std::chrono::milliseconds(lifetime(random));
        std::thread killer([pid, delay] {
            std::this_thread::sleep_for(delay);
            ::kill(pid, SIGKILL);
        });
        std::vector<std::thread> senders;
        for (auto& iPad : iPads) {
            senders.emplace_back([&, connection = iPad.get()] {
                for (;;) {
                    Sent command;
                    {
                        const std::lock_guard lock(mutex);
                        command = Sent{Uuid::random().text(), "/c/" + std::to_string(sent.size())};
                        sent.push_back(command);
                    }
                    if (!connection->send(oscCommandJson(command.id, command.address))) {
                        return;
                    }
                    const auto answer = connection->receive();
                    if (!answer) {
                        return;
                    }
                    if ((*answer)["body"]["status"] == "accepted") {
                        const std::lock_guard lock(mutex);
                        acceptedIDs.insert(command.id);
                    }
                }
            });
        }
        for (auto& sender : senders) {
            sender.join();
        }
        killer.join();
        bridge.kill();
    }

    // Every identifier once more: what ran is answered from the ledger, what
    // never got as far as a reservation runs now, once.
    const auto port = bridge.start();
    ASSERT_TRUE(port) << bridge.process().errorOutput();
    auto iPad = connectIPad(*port);
    ASSERT_NE(iPad, nullptr);
    std::map<std::string, int> finalStatuses;
    for (const auto& command : sent) {
        ASSERT_TRUE(iPad->send(oscCommandJson(command.id, command.address)));
        const auto answer = iPad->receive();
        ASSERT_TRUE(answer);
        const std::string status = (*answer)["body"]["status"];
        ++finalStatuses[status];
        if (status == "accepted") {
            EXPECT_EQ(acceptedIDs.count(command.id), 0U) << command.address << " accepted twice";
            acceptedIDs.insert(command.id);
        }
    }
    EXPECT_EQ(bridge.terminate(), 0) << bridge.process().errorOutput();
    std::this_thread::sleep_for(300ms);

    const auto counts = counter.counts();
    int duplicates = 0;
    for (const auto& [address, count] : counts) {
        duplicates += count > 1 ? 1 : 0;
    }
    int lostAcknowledged = 0;
    for (const auto& command : sent) {
        const auto found = counts.find(command.address);
        if (acceptedIDs.count(command.id) != 0 && (found == counts.end() || found->second != 1)) {
            ++lostAcknowledged;
        }
    }
    std::printf("crash storm: seed %d, %d kills, %zu commands, %zu acknowledged accepted, "
                "%zu addresses arrived; final resend: %d accepted, %d duplicate, %d rejected; "
                "duplicates %d, lost acknowledged %d, failed loads %d\n",
                seed, kills, sent.size(), acceptedIDs.size(), counts.size(),
                finalStatuses["accepted"], finalStatuses["duplicate"], finalStatuses["rejected"],
                duplicates, lostAcknowledged, failedLoads);
    EXPECT_EQ(duplicates, 0);
    EXPECT_EQ(lostAcknowledged, 0);
    EXPECT_EQ(failedLoads, 0);
}

} // namespace
} // namespace varnello::endtoend
