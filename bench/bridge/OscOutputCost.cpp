#include "OscOutputCost.h"

#include "ProcessCpuTime.h"
#include "app/OscAddressTally.h"
#include "core/BridgePreferences.h"
#include "core/JsonFilePreferenceStore.h"
#include "outputs/OSCForwarder.h"
#include "outputs/UdpReceiver.h"

#include <memory>
#include <string>
#include <vector>

namespace varnello::bench {

double oscOutputCpuMicroseconds(const std::filesystem::path& configFolder, int sends) {
    const test::UdpReceiver sink(AF_INET);
    testing::writeOscForwardingPreferences(configFolder / "preferences.json", sink.port());
    const BridgePreferences preferences(
        std::make_unique<JsonFilePreferenceStore>(configFolder / "preferences.json", nullptr));
    const OSCForwarder forwarder;
    std::vector<std::string> addresses;
    for (int n = 0; n < sends; ++n) {
        addresses.push_back("/probe/" + std::to_string(n));
    }
    const std::int64_t start = callingThreadCpuNanoseconds();
    for (const auto& oscAddress : addresses) {
        forwarder.send(oscAddress, preferences.oscConfiguration());
    }
    const std::int64_t spent = callingThreadCpuNanoseconds() - start;
    return sends > 0 ? static_cast<double>(spent) / 1000.0 / sends : 0;
}

} // namespace varnello::bench
