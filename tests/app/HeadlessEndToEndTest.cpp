#include "HeadlessEndToEndTest.h"

#include "../outputs/JackMIDIReader.h"
#include "../outputs/UdpReceiver.h"
#include "OscAddressTally.h"
#include "support/Base64.h"
#include "support/BoundedCommand.h"
#include "support/DnsServiceBrowser.h"
#include "support/PrefixCharacters.h"
#include "support/TemporaryFolder.h"
#include "support/Uuid.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <netinet/in.h>
#include <regex>

namespace varnello::endtoend {
namespace {

using namespace std::chrono_literals;

constexpr const char* bridgeBinary = VARNELLO_BRIDGE_BINARY;
constexpr std::uint16_t agentPort = 54884;
const std::string iPadHello =
    R"({"type":"hello","body":{"role":"tessaro","protocolVersion":1,"peerID":"end-to-end-ipad",)"
    R"("displayName":"End-to-end iPad","capabilities":["osc","midi"]}})";

std::string commandJson(const std::string& id, const std::string& payload) {
    return R"({"type":"command","body":{"id":")" + id + R"(","payload":)" + payload + "}}";
}

// The advertised instance name: the display name cut to 50 bytes by whole
// characters, then a space and 8 characters of the id.
std::string instanceName(const std::string& displayName, const std::string& id) {
    std::string name = "Varnello Bridge \xE2\x80\x93 " + displayName;
    for (auto count = characterCount(name); name.size() > 50; --count) {
        name = prefixCharacters(name, count - 1);
    }
    return name + " " + id.substr(0, 8);
}

class HeadlessEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VARNELLO_TEST_JACK") == nullptr) {
            GTEST_SKIP() << "needs a JACK server (scripts/with-test-services.sh)";
        }
        if (testing::runBounded({"avahi-daemon", "-c"}, 10s).status != 0) {
            GTEST_SKIP() << "needs an avahi-daemon on loopback (scripts/with-test-services.sh)";
        }
        testing::writeOscForwardingPreferences(
            folder.path() / "config" / "TessaroBridge" / "preferences.json", osc.port());
        midiReader = test::JackMIDIReader::open();
        ASSERT_NE(midiReader, nullptr) << "no JACK server answers";
    }

    std::unique_ptr<BridgeProcess> startBridge() {
        return std::make_unique<BridgeProcess>(
            bridgeBinary, std::vector<std::string>{"--headless", "--midi=jack"},
            std::map<std::string, std::string>{
                {"XDG_DATA_HOME", (folder.path() / "data").string()},
                {"XDG_CONFIG_HOME", (folder.path() / "config").string()}});
    }

    // The iPad port from the log line of the first ready report.
    std::uint16_t awaitReadyPort(BridgeProcess& bridge) {
        static const std::regex ready(R"(info orvane\.TessaroBridge runtime: Server status: )"
                                      R"(Beschikbaar via wifi \(TCP (\d+)\), clients: 0)");
        const auto line = bridge.awaitLine("Beschikbaar via wifi", 15s);
        std::smatch match;
        if (line && std::regex_search(*line, match, ready)) {
            return static_cast<std::uint16_t>(std::stoi(match[1]));
        }
        ADD_FAILURE() << "no ready report; standard error:\n" << bridge.errorOutput();
        return 0;
    }

    // Connects the reader to the bridge's JACK MIDI output.
    bool connectMIDI() {
        const char** ports = jack_get_ports(
            midiReader->client(), "^Varnello Bridge:", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
        if (ports == nullptr) {
            return false;
        }
        const bool connected = ports[0] != nullptr && midiReader->connectFrom(ports[0]);
        jack_free(ports);
        return connected;
    }

    testing::TemporaryFolder folder;
    test::UdpReceiver osc{AF_INET};
    std::unique_ptr<test::JackMIDIReader> midiReader;
};

TEST_F(HeadlessEndToEnd, AdvertisesExecutesOnceAcrossRestartsAndListsItsIPads) {
    const std::string midiID = Uuid::random().text();
    const std::string oscID = Uuid::random().text();
    const std::string midiCommand =
        commandJson(midiID, R"({"type":"midi","bytes":[144,60,100,128,60,0]})");
    std::string bridgeID;
    std::string displayName;
    {
        auto bridge = startBridge();
        const std::uint16_t port = awaitReadyPort(*bridge);
        ASSERT_NE(port, 0);
        ASSERT_TRUE(connectMIDI());

        FramedConnection iPad(port);
        ASSERT_TRUE(iPad.connected());
        const auto hello = iPad.receive();
        ASSERT_TRUE(hello && hello->is_object());
        ASSERT_EQ(hello->value("type", ""), "hello");
        const auto& body = (*hello)["body"];
        EXPECT_EQ(body["role"], "bridge");
        EXPECT_EQ(body["protocolVersion"], 1);
        EXPECT_EQ(body["capabilities"].size(), 2u);
        bridgeID = body["peerID"];
        displayName = body["displayName"];
        EXPECT_TRUE(std::regex_match(bridgeID, std::regex("[0-9a-f]{64}")));
        EXPECT_TRUE(bridge->awaitLine("Bridge-coordinator gereed: " + bridgeID, 1s));

        ASSERT_TRUE(iPad.send(iPadHello));
        ASSERT_TRUE(iPad.send(midiCommand));
        ASSERT_TRUE(iPad.send(commandJson(oscID, R"({"type":"osc","address":"/e2e/go"})")));
        const auto midiAnswer = iPad.receive();
        const auto oscAnswer = iPad.receive();
        ASSERT_TRUE(midiAnswer && oscAnswer);
        EXPECT_EQ(*midiAnswer, nlohmann::json::parse(R"({"type":"acknowledgement","body":)"
                                                     R"({"commandID":")" +
                                                     midiID + R"(","status":"accepted"}})"));
        EXPECT_EQ(*oscAnswer, nlohmann::json::parse(R"({"type":"acknowledgement","body":)"
                                                    R"({"commandID":")" +
                                                    oscID + R"(","status":"accepted"}})"));
        EXPECT_EQ(midiReader->take(2, 5s),
                  (std::vector<std::vector<std::uint8_t>>{{144, 60, 100}, {128, 60, 0}}));
        const auto datagram = osc.receive();
        ASSERT_TRUE(datagram);
        EXPECT_EQ(std::string(datagram->begin(), datagram->end()),
                  std::string("/e2e/go\0,\0\0\0", 12));

        // The Agent API lists this iPad.
        FramedConnection agent(agentPort);
        ASSERT_TRUE(agent.connected());
        const std::string requestID = Uuid::random().text();
        ASSERT_TRUE(agent.send(R"({"type":"agentRequest","body":{"requestID":")" + requestID +
                               R"(","operation":"devices"}})"));
        const auto response = agent.receive();
        ASSERT_TRUE(response);
        EXPECT_EQ((*response)["type"], "agentResponse");
        EXPECT_EQ((*response)["body"]["requestID"], requestID);
        EXPECT_EQ((*response)["body"]["status"], "accepted");
        const auto payload = base64Decode((*response)["body"]["payload"].get<std::string>());
        ASSERT_TRUE(payload);
        const auto devices = nlohmann::json::parse(payload->begin(), payload->end());
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0]["peerID"], "end-to-end-ipad");
        EXPECT_EQ(devices[0]["displayName"], "End-to-end iPad");

        // The advertisement, as a DNS-SD browser on this machine sees it. Right
        // after a daemon restart it may take a few browses to show up.
        const std::string expectedName = instanceName(displayName, bridgeID);
        const auto isOurs = [&](const testing::BrowsedService& service) {
            return service.name == expectedName && service.port == port;
        };
        const auto services = testing::browseUntil("_tessaro._tcp", [&](const auto& seen) {
            return std::any_of(seen.begin(), seen.end(), isOurs);
        });
        const auto found = std::find_if(services.begin(), services.end(), isOurs);
        ASSERT_NE(found, services.end()) << "no service named " << expectedName;
        EXPECT_EQ(found->type, "_tessaro._tcp");
        EXPECT_EQ(found->txt, (std::map<std::string, std::string>{{"role", "bridge"},
                                                                  {"protocol", "1"},
                                                                  {"id", bridgeID},
                                                                  {"name", displayName},
                                                                  {"midi", "1"},
                                                                  {"osc", "1"}}));

        EXPECT_EQ(bridge->terminate(10s), 0) << bridge->errorOutput();
    }

    // After a restart the same command is answered from the ledger.
    auto bridge = startBridge();
    const std::uint16_t port = awaitReadyPort(*bridge);
    ASSERT_NE(port, 0);
    ASSERT_TRUE(connectMIDI());
    FramedConnection iPad(port);
    ASSERT_TRUE(iPad.receive());
    ASSERT_TRUE(iPad.send(iPadHello));
    ASSERT_TRUE(iPad.send(midiCommand));
    const auto answer = iPad.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(
        *answer,
        nlohmann::json::parse(
            R"({"type":"acknowledgement","body":{"commandID":")" + midiID +
            R"(","status":"duplicate","detail":"This command has already been performed."}})"));
    EXPECT_TRUE(midiReader->take(1, 500ms).empty());
    EXPECT_EQ(bridge->terminate(10s), 0) << bridge->errorOutput();
}

} // namespace
} // namespace varnello::endtoend
