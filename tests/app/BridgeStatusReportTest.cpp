#include "app/BridgeStatusReport.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

BridgeRuntimeSnapshot snapshotWith(std::int64_t clients, bool oscOn, LedgerFill fill) {
    return BridgeRuntimeSnapshot{BridgeIdentity{std::string(64, 'b'), "Studio"},
                                 BridgeServerState::ready(40123),
                                 clients,
                                 OSCForwardingConfiguration{oscOn, "mixer & lights", 7000},
                                 std::nullopt,
                                 fill};
}

TEST(BridgeStatusReport, LinesFollowTheMenu) {
    const struct {
        BridgeRuntimeSnapshot snapshot;
        MIDIBackendChoice midi;
        std::string lines;
    } cases[] = {
        {snapshotWith(0, true, {0, 250'000}), MIDIBackendChoice::jack,
         "Beschikbaar via wifi (TCP 40123)\n0 iPads connected\n"
         "OSC to mixer & lights:7000 (forwarding on)\nMIDI: jack, port \u201cVarnello "
         "Bridge\u201d\n"
         "Command ledger: 0 of 250000 insertions (0%)\n"},
        {snapshotWith(1, false, {249'999, 250'000}), MIDIBackendChoice::automatic,
         "Beschikbaar via wifi (TCP 40123)\n1 iPad connected\n"
         "OSC to mixer & lights:7000 (forwarding off)\nMIDI: auto, port \u201cVarnello "
         "Bridge\u201d\n"
         "Command ledger: 249999 of 250000 insertions (99%)\n"},
    };
    for (const auto& c : cases) {
        const nlohmann::json report = bridgeStatusReport(c.snapshot, std::nullopt, c.midi);
        EXPECT_EQ(bridgeStatusLines(report), c.lines);
        // What scripts read survives the trip as text.
        EXPECT_EQ(bridgeStatusLines(nlohmann::json::parse(report.dump())), c.lines);
    }
}

TEST(BridgeStatusReport, ConnectedIPadsAreListedUnderTheCount) {
    nlohmann::json report = bridgeStatusReport(snapshotWith(2, true, {0, 250'000}), std::nullopt,
                                               MIDIBackendChoice::jack);
    report["iPads"] = {"Stage left", "Anna’s iPad"};
    const std::string lines = bridgeStatusLines(report);
    EXPECT_NE(lines.find("\n2 iPads connected\n  Stage left\n  Anna’s iPad\nOSC to "),
              std::string::npos)
        << lines;
}

TEST(BridgeStatusReport, JsonCarriesTheFigures) {
    const nlohmann::json report = bridgeStatusReport(snapshotWith(2, true, {200'000, 250'000}),
                                                     std::nullopt, MIDIBackendChoice::alsa);
    EXPECT_EQ(report["state"], "Beschikbaar via wifi (TCP 40123)");
    EXPECT_EQ(report["iPadsConnected"], 2);
    EXPECT_EQ(report["osc"]["line"], "OSC to mixer & lights:7000");
    EXPECT_EQ(report["osc"]["enabled"], true);
    EXPECT_EQ(report["midi"]["backend"], "alsa");
    EXPECT_EQ(report["ledger"]["insertions"], 200'000);
    EXPECT_EQ(report["ledger"]["maximum"], 250'000);
    EXPECT_EQ(report["ledger"]["percent"], 80);
    EXPECT_EQ(report["bridgeID"], std::string(64, 'b'));
}

TEST(BridgeStatusReport, AFailedStartUpReportsItsError) {
    const nlohmann::json report =
        bridgeStatusReport(std::nullopt, "The command ledger has an unknown or corrupted format.",
                           MIDIBackendChoice::jack);
    EXPECT_EQ(bridgeStatusLines(report),
              "Startup error: The command ledger has an unknown or corrupted format.\n");
    EXPECT_EQ(
        bridgeStatusLines(bridgeStatusReport(std::nullopt, std::nullopt, MIDIBackendChoice::jack)),
        "Startup error: unknown\n");
}

} // namespace
} // namespace varnello
