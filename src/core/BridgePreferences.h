#pragma once

#include "core/PreferenceStore.h"
#include "outputs/OSCForwardingConfiguration.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace varnello {

// The bridge's settings: where OSC commands go and whether they are sent. Every
// read goes to the store. Writes announce themselves to the observers, once each,
// synchronously on the writing thread.
//
// Contexts: oscConfiguration is thread-safe (main thread and server queue).
// Everything else belongs to the main thread, the one that constructs the object.
class BridgePreferences {
public:
    static constexpr std::string_view didChangeNotification = "TessaroBridgePreferencesDidChange";
    static constexpr std::string_view enabledKey = "oscForwardingEnabled";
    static constexpr std::string_view hostKey = "oscForwardingHost";
    static constexpr std::string_view portKey = "oscForwardingPort";
    static constexpr std::string_view iPadPortKey = "iPadPort";

    // A posted change: its name and the preferences that made it; no other content.
    struct Notification {
        std::string_view name;
        BridgePreferences* object;
    };
    using Observer = std::function<void(const Notification&)>;
    using ObserverToken = std::uint64_t;

    explicit BridgePreferences(std::unique_ptr<PreferenceStore> store);
    BridgePreferences(const BridgePreferences&) = delete;
    BridgePreferences& operator=(const BridgePreferences&) = delete;

    // The stored settings; defaults stand in for absent, unusable or out-of-range
    // values: enabled, "127.0.0.1", port 9000.
    OSCForwardingConfiguration oscConfiguration() const;

    // The TCP port iPads connect to when one is fixed; nullopt when the key is
    // absent and the system chooses. Throws BridgePreferencesError::invalidIPadPort
    // for anything stored there that is not an integer from 1 to 65535: a bad value
    // must stop the start, never be replaced by another port. Never written by the
    // bridge: set by hand, like a firewall rule.
    std::optional<std::uint16_t> iPadPort() const;

    // Trims the host, checks it and the port (the host first), stores both and
    // notifies. Throws BridgePreferencesError: invalidHost, invalidPort, or
    // saveFailed when the store cannot keep them; nothing is stored or posted then.
    // The enabled flag is left alone.
    void saveOSCDestination(std::string_view host, std::int64_t port);

    // Stores the flag and notifies; throws BridgePreferencesError::saveFailed.
    void setOSCForwardingEnabled(bool enabled);

    // An observer may add or remove observers while it runs; one removed during a
    // post is not called by it.
    ObserverToken addObserver(Observer observer);
    void removeObserver(ObserverToken token) noexcept;

private:
    void postDidChange();
    void assertOnMainThread() const noexcept;

    std::unique_ptr<PreferenceStore> store_;
    std::thread::id mainThread_;
    std::vector<std::pair<ObserverToken, Observer>> observers_;
    ObserverToken nextToken_ = 1;
};

} // namespace varnello
