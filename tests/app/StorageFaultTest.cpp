// The real bridge with a preloaded library that makes fsync or rename fail on
// demand: a command whose reservation cannot be saved is refused and never
// runs, the bridge keeps serving, and its files load on the next start.

#include "../outputs/UdpReceiver.h"
#include "OscAddressTally.h"
#include "RealBridge.h"
#include "support/TemporaryFolder.h"
#include "support/Uuid.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>

namespace varnello::endtoend {
namespace {

using namespace std::chrono_literals;

struct StorageFault {
    const char* name;
    const char* control;
};

class StorageFaultTest : public ::testing::TestWithParam<StorageFault> {};

std::map<std::string, int> drain(const test::UdpReceiver& osc) {
    std::map<std::string, int> counts;
    while (const auto datagram = osc.receive(500)) {
        ++counts[testing::oscAddressOf(*datagram)];
    }
    return counts;
}

nlohmann::json send(FramedConnection& iPad, const std::string& id, const std::string& address) {
    EXPECT_TRUE(iPad.send(oscCommandJson(id, address)));
    const auto answer = iPad.receive();
    EXPECT_TRUE(answer);
    return answer ? (*answer)["body"] : nlohmann::json();
}

TEST_P(StorageFaultTest, UnsavedReservationIsRefusedNeverRunsAndTheBridgeRecovers) {
    if (std::getenv("VARNELLO_TEST_JACK") == nullptr) {
        GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
    }
    testing::TemporaryFolder folder;
    test::UdpReceiver osc(AF_INET);
    RealBridge bridge(folder.path(), osc.port());
    const auto control = folder.path() / "storage-fault";
    testing::writeFile(control, "");
    std::string asanOptions = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    // The fault library comes before the sanitizer runtime in the load order.
    asanOptions += (asanOptions.empty() ? "" : ":") + std::string("verify_asan_link_order=0");
    const std::map<std::string, std::string> faulty{{"LD_PRELOAD", VARNELLO_STORAGE_FAULT_SHIM},
                                                    {"VARNELLO_STORAGE_FAULT", control.string()},
                                                    {"ASAN_OPTIONS", asanOptions}};

    const std::string before = Uuid::random().text();
    const std::string refused = Uuid::random().text();
    const std::string after = Uuid::random().text();
    {
        const auto port = bridge.start(faulty);
        ASSERT_TRUE(port) << bridge.process().errorOutput();
        auto iPad = connectIPad(*port);
        ASSERT_NE(iPad, nullptr);
        EXPECT_EQ(send(*iPad, before, "/f/before")["status"], "accepted");

        testing::writeFile(control, GetParam().control);
        const auto answer = send(*iPad, refused, "/f/refused");
        EXPECT_EQ(answer["status"], "rejected");
        EXPECT_EQ(answer["detail"], "Could not save the command ledger safely.");

        testing::writeFile(control, "");
        EXPECT_EQ(send(*iPad, after, "/f/after")["status"], "accepted");
        // Never saved means never ran: sent again it runs now, once.
        EXPECT_EQ(send(*iPad, refused, "/f/refused")["status"], "accepted");
        EXPECT_EQ(bridge.terminate(), 0) << bridge.process().errorOutput();
    }

    const auto port = bridge.start();
    ASSERT_TRUE(port) << "the files did not load:\n" << bridge.process().errorOutput();
    auto iPad = connectIPad(*port);
    ASSERT_NE(iPad, nullptr);
    for (const auto& [id, address] :
         {std::pair{before, "/f/before"}, std::pair{refused, "/f/refused"},
          std::pair{after, "/f/after"}}) {
        EXPECT_EQ(send(*iPad, id, address)["status"], "duplicate") << address;
    }
    EXPECT_EQ(bridge.terminate(), 0) << bridge.process().errorOutput();
    EXPECT_EQ(drain(osc),
              (std::map<std::string, int>{{"/f/before", 1}, {"/f/refused", 1}, {"/f/after", 1}}));
}

INSTANTIATE_TEST_SUITE_P(Faults, StorageFaultTest,
                         ::testing::Values(StorageFault{"FsyncFailsWithEIO", "fsync"},
                                           StorageFault{"RenameFailsWithENOSPC", "rename"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
} // namespace varnello::endtoend
