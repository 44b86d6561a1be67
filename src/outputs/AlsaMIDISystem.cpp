#include "outputs/AlsaMIDISystem.h"

#include "outputs/AlsaSequencer.h"
#include "outputs/MonotonicHostTime.h"

#include <cerrno>

namespace varnello {

AlsaMIDISystem::AlsaMIDISystem() = default;

AlsaMIDISystem::~AlsaMIDISystem() = default;

MIDIStatus AlsaMIDISystem::createClient(std::string_view name, MIDIClientRef& client) {
    std::unique_ptr<AlsaSequencer> sequencer;
    if (const MIDIStatus status = AlsaSequencer::open(name, sequencer); status != 0) {
        return status;
    }
    client = nextRef_++;
    clients_.emplace(client, std::move(sequencer));
    return 0;
}

MIDIStatus AlsaMIDISystem::createSource(MIDIClientRef client, std::string_view name,
                                        MIDIEndpointRef& endpoint) {
    const auto found = clients_.find(client);
    if (found == clients_.end()) {
        return -EINVAL;
    }
    int number = 0;
    if (const MIDIStatus status = found->second->createReadablePort(name, number); status != 0) {
        return status;
    }
    endpoint = nextRef_++;
    ports_.emplace(endpoint, Port{client, number});
    return 0;
}

MIDIStatus AlsaMIDISystem::setStringProperty(MIDIEndpointRef endpoint, MIDIStringProperty,
                                             std::string_view) {
    return ports_.contains(endpoint) ? -ENOTSUP : -EINVAL;
}

MIDIStatus AlsaMIDISystem::setIntegerProperty(MIDIEndpointRef endpoint, MIDIIntegerProperty,
                                              std::int32_t) {
    return ports_.contains(endpoint) ? -ENOTSUP : -EINVAL;
}

MIDIStatus AlsaMIDISystem::emit(MIDIEndpointRef endpoint, MIDITimeStamp,
                                std::span<const std::uint8_t> bytes) {
    const auto found = ports_.find(endpoint);
    if (found == ports_.end()) {
        return -EINVAL;
    }
    return clients_.at(found->second.client)->sendMIDI(found->second.number, bytes);
}

void AlsaMIDISystem::disposeEndpoint(MIDIEndpointRef endpoint) noexcept {
    const auto found = ports_.find(endpoint);
    if (found == ports_.end()) {
        return;
    }
    clients_.at(found->second.client)->deletePort(found->second.number);
    ports_.erase(found);
}

void AlsaMIDISystem::disposeClient(MIDIClientRef client) noexcept {
    // Closing the sequencer client removes its ports with it.
    std::erase_if(ports_, [client](const auto& entry) { return entry.second.client == client; });
    clients_.erase(client);
}

MIDITimeStamp AlsaMIDISystem::currentHostTime() const noexcept {
    return monotonicHostTime();
}

MIDIStatus AlsaMIDISystem::clientLoss(MIDIClientRef client) const noexcept {
    const auto found = clients_.find(client);
    return found == clients_.end() ? 0 : found->second->loss();
}

} // namespace varnello
