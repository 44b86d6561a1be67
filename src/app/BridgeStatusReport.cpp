#include "app/BridgeStatusReport.h"

namespace varnello {

nlohmann::json bridgeStatusReport(const std::optional<BridgeRuntimeSnapshot>& snapshot,
                                  const std::optional<std::string>& launchError,
                                  MIDIBackendChoice midi) {
    nlohmann::json report;
    if (!snapshot) {
        report["startupError"] = launchError.value_or("unknown");
        return report;
    }
    const OSCForwardingConfiguration& osc = snapshot->oscConfiguration;
    report["bridgeID"] = snapshot->identity.id;
    report["state"] = snapshot->serverState.statusText();
    report["iPadsConnected"] = snapshot->connectedClientCount;
    report["osc"] = {{"line", oscDestinationText(osc)},
                     {"enabled", osc.isEnabled},
                     {"host", osc.host},
                     {"port", osc.port}};
    report["midi"] = {{"backend", std::string(midiBackendChoiceName(midi))},
                      {"port", "Varnello Bridge"}};
    report["ledger"] = {{"insertions", snapshot->ledgerFill.insertionCount},
                        {"maximum", snapshot->ledgerFill.maximumInsertions},
                        {"percent", snapshot->ledgerFill.percent()}};
    return report;
}

std::string bridgeStatusLines(const nlohmann::json& report) {
    if (report.contains("startupError")) {
        return "Startup error: " + report["startupError"].get<std::string>() + "\n";
    }
    std::string lines = report["state"].get<std::string>() + "\n";
    lines += connectedClientsText(report["iPadsConnected"].get<std::int64_t>()) + "\n";
    if (report.contains("iPads")) {
        for (const nlohmann::json& name : report["iPads"]) {
            lines += "  " + name.get<std::string>() + "\n";
        }
    }
    const nlohmann::json& osc = report["osc"];
    lines += osc["line"].get<std::string>() +
             (osc["enabled"].get<bool>() ? " (forwarding on)\n" : " (forwarding off)\n");
    const nlohmann::json& midi = report["midi"];
    lines += "MIDI: " + midi["backend"].get<std::string>() + ", port \u201c" +
             midi["port"].get<std::string>() + "\u201d\n";
    const nlohmann::json& ledger = report["ledger"];
    lines += "Command ledger: " + std::to_string(ledger["insertions"].get<std::int64_t>()) +
             " of " + std::to_string(ledger["maximum"].get<std::int64_t>()) + " insertions (" +
             std::to_string(ledger["percent"].get<int>()) + "%)\n";
    return lines;
}

} // namespace varnello
