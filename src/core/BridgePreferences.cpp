#include "core/BridgePreferences.h"

#include "core/BridgePreferencesError.h"
#include "support/TcpPort.h"
#include "support/UnicodeScalars.h"

#include <algorithm>
#include <cassert>

namespace varnello {
namespace {

constexpr std::size_t maximumHostBytes = 255;
constexpr std::int64_t maximumPort = 65535;
const OSCForwardingConfiguration defaults;

bool isAcceptableHost(std::string_view host) {
    if (host.empty() || host.size() > maximumHostBytes) {
        return false;
    }
    const auto scalars = utf8Scalars(host);
    return std::none_of(scalars->begin(), scalars->end(), [](char32_t scalar) {
        return scalar == 0 || isWhiteSpaceScalar(scalar) || isControlScalar(scalar);
    });
}

} // namespace

BridgePreferences::BridgePreferences(std::unique_ptr<PreferenceStore> store)
    : store_(std::move(store)), mainThread_(std::this_thread::get_id()) {}

OSCForwardingConfiguration BridgePreferences::oscConfiguration() const {
    static constexpr PreferenceKey keys[] = {
        {enabledKey, PreferenceType::boolean},
        {hostKey, PreferenceType::text},
        {portKey, PreferenceType::integer},
    };
    const auto values = store_->read(keys);
    OSCForwardingConfiguration configuration = defaults;
    if (values[0]) {
        configuration.isEnabled = std::get<bool>(*values[0]);
    }
    if (values[1]) {
        configuration.host = std::get<std::string>(*values[1]);
    }
    if (values[2]) {
        const auto port = std::get<std::int64_t>(*values[2]);
        if (port >= 1 && port <= maximumPort) {
            configuration.port = static_cast<std::uint16_t>(port);
        }
    }
    return configuration;
}

std::optional<std::uint16_t> BridgePreferences::iPadPort() const {
    const auto stored = store_->storedJson(iPadPortKey);
    if (!stored) {
        return std::nullopt;
    }
    // A JSON integer's text is its plain decimal digits; a string, a fraction or a
    // negative number is refused by the same reading as --port.
    const auto port = parseTcpPort(*stored);
    if (!port) {
        throw BridgePreferencesError::invalidIPadPort(*stored);
    }
    return port;
}

void BridgePreferences::saveOSCDestination(std::string_view host, std::int64_t port) {
    assertOnMainThread();
    // Text that is not UTF-8 has no scalars to check; it is no host name either.
    if (!utf8Scalars(host)) {
        throw BridgePreferencesError::invalidHost();
    }
    const auto trimmed = trimmingWhiteSpace(host);
    if (!isAcceptableHost(trimmed)) {
        throw BridgePreferencesError::invalidHost();
    }
    if (port < 1 || port > maximumPort) {
        throw BridgePreferencesError::invalidPort();
    }
    const std::pair<std::string_view, PreferenceValue> values[] = {
        {hostKey, std::string(trimmed)},
        {portKey, port},
    };
    store_->write(values);
    postDidChange();
}

void BridgePreferences::setOSCForwardingEnabled(bool enabled) {
    assertOnMainThread();
    const std::pair<std::string_view, PreferenceValue> values[] = {{enabledKey, enabled}};
    store_->write(values);
    postDidChange();
}

BridgePreferences::ObserverToken BridgePreferences::addObserver(Observer observer) {
    assertOnMainThread();
    const auto token = nextToken_++;
    observers_.emplace_back(token, std::move(observer));
    return token;
}

void BridgePreferences::removeObserver(ObserverToken token) noexcept {
    assertOnMainThread();
    std::erase_if(observers_, [token](const auto& entry) { return entry.first == token; });
}

void BridgePreferences::postDidChange() {
    const Notification notification{didChangeNotification, this};
    // A copy, because observers may change the list while they run.
    const auto observers = observers_;
    for (const auto& [token, observer] : observers) {
        const bool stillObserving =
            std::any_of(observers_.begin(), observers_.end(),
                        [token = token](const auto& entry) { return entry.first == token; });
        if (stillObserving) {
            observer(notification);
        }
    }
}

void BridgePreferences::assertOnMainThread() const noexcept {
    assert(std::this_thread::get_id() == mainThread_);
}

} // namespace varnello
