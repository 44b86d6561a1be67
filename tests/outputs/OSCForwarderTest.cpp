#include "outputs/OSCForwarder.h"

#include "ScriptedDatagramNetwork.h"
#include "outputs/OSCForwarderError.h"
#include "protocol/TessaroBridgeWireError.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

using test::ScriptedDatagramNetwork;
using test::ScriptedNetworkState;
using Entry = ScriptedNetworkState::Entry;

class OSCForwarderTest : public ::testing::Test {
protected:
    OSCForwarder forwarder() const {
        return OSCForwarder(std::make_unique<ScriptedDatagramNetwork>(state));
    }

    static OSCForwardingConfiguration configuration(bool enabled = true) {
        return {.isEnabled = enabled, .host = "mixer.example", .port = 9000};
    }

    // The OSCForwarderError a send throws; fails the test when it throws none.
    OSCForwarderError sendError(std::string_view address) const {
        try {
            forwarder().send(address, configuration());
        } catch (const OSCForwarderError& error) {
            return error;
        }
        ADD_FAILURE() << "send succeeded";
        return OSCForwarderError::disabled();
    }

    std::shared_ptr<ScriptedNetworkState> state = std::make_shared<ScriptedNetworkState>();
};

TEST_F(OSCForwarderTest, ResolvesWithTheDecimalPortAndSendsOnce) {
    state->entries = {Entry{}};
    forwarder().send("/cue/1", {.isEnabled = true, .host = "192.0.2.7", .port = 65535});

    const std::vector<std::string> expected = {"resolve 192.0.2.7 65535", "open 2 2 17",
                                               "send 1000 to 0", "close 1000"};
    EXPECT_EQ(state->calls, expected);
}

TEST_F(OSCForwarderTest, StopsAtTheFirstEntryThatTakesTheWholeDatagram) {
    state->entries = {Entry{.socketError = EAFNOSUPPORT}, Entry{}, Entry{}};
    forwarder().send("/go", configuration());

    ASSERT_EQ(state->sent.size(), 1U);
    const std::vector<std::string> expected = {"resolve mixer.example 9000", "open 2 2 17",
                                               "open 2 2 17", "send 1001 to 1", "close 1001"};
    EXPECT_EQ(state->calls, expected);
}

TEST_F(OSCForwarderTest, EveryEntryFailingReportsTheLastErrorNumber) {
    const struct {
        std::vector<Entry> entries;
        int errorNumber;
    } cases[] = {
        {{Entry{.socketError = EAFNOSUPPORT}, Entry{.sendError = ENETUNREACH}}, ENETUNREACH},
        {{Entry{.sendError = ENETUNREACH}, Entry{.socketError = EMFILE}}, EMFILE},
        {{Entry{.sendError = EACCES}}, EACCES},
        // A datagram that left only in part counts as not sent.
        {{Entry{.sendResult = 3}}, EMSGSIZE},
    };
    for (const auto& c : cases) {
        state = std::make_shared<ScriptedNetworkState>();
        state->entries = c.entries;
        EXPECT_EQ(sendError("/go"), OSCForwarderError::sendFailed(c.errorNumber));
        EXPECT_EQ(state->openSockets, 0) << "a socket was left open";
    }
}

TEST_F(OSCForwarderTest, UnresolvedHostOpensNoSocket) {
    state->resolves = false;
    EXPECT_EQ(sendError("/go"), OSCForwarderError::cannotResolve("mixer.example"));
    EXPECT_EQ(state->calls, std::vector<std::string>{"resolve mixer.example 9000"});
}

TEST_F(OSCForwarderTest, DisabledIsTestedBeforeAnythingElse) {
    state->entries = {Entry{}};
    for (const std::string_view address : {"/go", "not an address", ""}) {
        try {
            forwarder().send(address, configuration(false));
            ADD_FAILURE() << "send succeeded";
        } catch (const OSCForwarderError& error) {
            EXPECT_EQ(error, OSCForwarderError::disabled());
            EXPECT_EQ(error.message(), "OSC forwarding is disabled.");
        }
    }
    EXPECT_TRUE(state->calls.empty());
}

TEST_F(OSCForwarderTest, InvalidAddressIsRefusedBeforeResolution) {
    state->entries = {Entry{}};
    const std::string longest = "/" + std::string(1023, 'a');
    const std::string tooLong = longest + "a";
    for (const std::string_view address :
         {std::string_view(""), std::string_view("/"), std::string_view("cue"),
          std::string_view("/a b"), std::string_view("/a\tb"), std::string_view("/a\nb"),
          std::string_view("/a\0b", 4), std::string_view(tooLong)}) {
        EXPECT_THROW(forwarder().send(address, configuration()), TessaroBridgeWireError)
            << address.size();
    }
    EXPECT_TRUE(state->calls.empty());

    forwarder().send(longest, configuration());
    EXPECT_EQ(state->sent.size(), 1U);
}

} // namespace
} // namespace varnello
