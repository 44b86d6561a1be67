#include "OscOutputCost.h"

#include "BridgeLoadError.h"
#include "ProcessCpuTime.h"
#include "core/BridgePreferences.h"
#include "core/JsonFilePreferenceStore.h"
#include "outputs/OSCForwarder.h"

#include <arpa/inet.h>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace varnello::bench {

double oscOutputCpuMicroseconds(const std::filesystem::path& configFolder, int sends) {
    const int sink = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (sink < 0 || ::bind(sink, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(sink, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(sink);
        throw BridgeLoadError(BridgeLoadError::Code::oscReceiver);
    }
    std::filesystem::create_directories(configFolder);
    std::ofstream(configFolder / "preferences.json")
        << R"({"oscForwardingEnabled": true, "oscForwardingHost": "127.0.0.1", )"
        << R"("oscForwardingPort": )" << ntohs(address.sin_port) << "}";
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
    ::close(sink);
    return sends > 0 ? static_cast<double>(spent) / 1000.0 / sends : 0;
}

} // namespace varnello::bench
