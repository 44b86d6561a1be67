#include "server/BridgeServerState.h"

#include "server/BridgeServer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace varnello {
namespace {

struct TextCase {
    BridgeServerState state;
    std::string text;
};

TEST(BridgeServerStateTest, StatusTextOfEveryCase) {
    const std::vector<TextCase> cases{
        {BridgeServerState::ready(40123), "Beschikbaar via wifi (TCP 40123)"},
        {BridgeServerState::ready(0), "Beschikbaar via wifi (TCP 0)"},
        {BridgeServerState::ready(65535), "Beschikbaar via wifi (TCP 65535)"},
        {BridgeServerState::waiting("Network is down"), "Waiting for network: Network is down"},
        {BridgeServerState::failed("Address already in use"),
         "Network error: Address already in use"},
        {BridgeServerState::stopped(), "Stopped"},
        {BridgeServerState::starting(), "Starten\xE2\x80\xA6"},
    };
    for (const auto& [state, text] : cases) {
        EXPECT_EQ(state.statusText(), text);
        EXPECT_EQ(BridgeServer::statusText(state), text);
    }
}

TEST(BridgeServerStateTest, EqualOnlyWithTheSameCaseAndPayload) {
    EXPECT_EQ(BridgeServerState::ready(1), BridgeServerState::ready(1));
    EXPECT_NE(BridgeServerState::ready(1), BridgeServerState::ready(2));
    EXPECT_EQ(BridgeServerState::failed("x"), BridgeServerState::failed("x"));
    EXPECT_NE(BridgeServerState::failed("x"), BridgeServerState::failed("y"));
    EXPECT_NE(BridgeServerState::failed("x"), BridgeServerState::waiting("x"));
    EXPECT_NE(BridgeServerState::stopped(), BridgeServerState::starting());
    EXPECT_NE(BridgeServerState::ready(0), BridgeServerState::stopped());
}

} // namespace
} // namespace varnello
