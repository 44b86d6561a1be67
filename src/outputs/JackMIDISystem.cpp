#include "outputs/JackMIDISystem.h"

#include "outputs/JackMIDIClient.h"
#include "outputs/MonotonicHostTime.h"

#include <cerrno>
#include <jack/jack.h>
#include <string>
#include <utility>

namespace varnello {
namespace {

constexpr const char* integerType = "http://www.w3.org/2001/XMLSchema#int";

void ignoreJackMessage(const char*) {}

} // namespace

JackMIDISystem::JackMIDISystem() = default;

JackMIDISystem::~JackMIDISystem() = default;

MIDIStatus JackMIDISystem::createClient(std::string_view name, MIDIClientRef& client) {
    std::unique_ptr<JackMIDIClient> opened;
    if (const MIDIStatus status = JackMIDIClient::open(name, lossHandler_, opened); status != 0) {
        return status;
    }
    // Once a server has answered, failures speak through their statuses: while
    // a lost server is asked for again every second, JACK's own messages about
    // each refused connection would only fill the log.
    if (!quietened_) {
        jack_set_error_function(&ignoreJackMessage);
        jack_set_info_function(&ignoreJackMessage);
        quietened_ = true;
    }
    client = nextRef_++;
    clients_.emplace(client, std::move(opened));
    return 0;
}

MIDIStatus JackMIDISystem::createSource(MIDIClientRef client, std::string_view name,
                                        MIDIEndpointRef& endpoint) {
    const auto found = clients_.find(client);
    if (found == clients_.end()) {
        return -EINVAL;
    }
    if (const MIDIStatus status = found->second->openOutputPort(name); status != 0) {
        return status;
    }
    endpoint = nextRef_++;
    ports_.emplace(endpoint, client);
    return 0;
}

MIDIStatus JackMIDISystem::setStringProperty(MIDIEndpointRef endpoint, MIDIStringProperty property,
                                             std::string_view value) {
    JackMIDIClient* client = clientOf(endpoint);
    if (client == nullptr) {
        return -EINVAL;
    }
    const char* key = property == MIDIStringProperty::manufacturer ? manufacturerKey : modelKey;
    return client->setPortProperty(key, std::string(value), nullptr);
}

MIDIStatus JackMIDISystem::setIntegerProperty(MIDIEndpointRef endpoint, MIDIIntegerProperty,
                                              std::int32_t value) {
    JackMIDIClient* client = clientOf(endpoint);
    if (client == nullptr) {
        return -EINVAL;
    }
    return client->setPortProperty(uniqueIDKey, std::to_string(value), integerType);
}

MIDIStatus JackMIDISystem::emit(MIDIEndpointRef endpoint, MIDITimeStamp,
                                std::span<const std::uint8_t> bytes) {
    JackMIDIClient* client = clientOf(endpoint);
    return client == nullptr ? -EINVAL : client->write(bytes);
}

void JackMIDISystem::disposeEndpoint(MIDIEndpointRef endpoint) noexcept {
    if (JackMIDIClient* client = clientOf(endpoint)) {
        client->closeOutputPort();
        ports_.erase(endpoint);
    }
}

void JackMIDISystem::disposeClient(MIDIClientRef client) noexcept {
    std::erase_if(ports_, [client](const auto& entry) { return entry.second == client; });
    clients_.erase(client);
}

MIDITimeStamp JackMIDISystem::currentHostTime() const noexcept {
    return monotonicHostTime();
}

MIDIStatus JackMIDISystem::clientLoss(MIDIClientRef client) const noexcept {
    const auto found = clients_.find(client);
    return found != clients_.end() && found->second->serverGone() ? jackStatus::serverGone : 0;
}

void JackMIDISystem::setLossHandler(LossHandler handler) {
    lossHandler_ = std::move(handler);
}

JackMIDIClient* JackMIDISystem::clientOf(MIDIEndpointRef endpoint) const noexcept {
    const auto found = ports_.find(endpoint);
    return found == ports_.end() ? nullptr : clients_.at(found->second).get();
}

} // namespace varnello
