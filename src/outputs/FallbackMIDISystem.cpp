#include "outputs/FallbackMIDISystem.h"

#include <cassert>
#include <utility>

namespace varnello {

FallbackMIDISystem::FallbackMIDISystem(std::unique_ptr<MIDISystem> preferred,
                                       std::unique_ptr<MIDISystem> fallback)
    : preferred_(std::move(preferred)), fallback_(std::move(fallback)) {
    assert(preferred_ && fallback_);
}

MIDIStatus FallbackMIDISystem::createClient(std::string_view name, MIDIClientRef& client) {
    if (chosen_ != nullptr) {
        return chosen_->createClient(name, client);
    }
    const MIDIStatus preferredStatus = preferred_->createClient(name, client);
    if (preferredStatus == 0) {
        chosen_ = preferred_.get();
        return 0;
    }
    if (fallback_->createClient(name, client) == 0) {
        chosen_ = fallback_.get();
        return 0;
    }
    return preferredStatus;
}

MIDIStatus FallbackMIDISystem::createSource(MIDIClientRef client, std::string_view name,
                                            MIDIEndpointRef& endpoint) {
    return serving().createSource(client, name, endpoint);
}

MIDIStatus FallbackMIDISystem::setStringProperty(MIDIEndpointRef endpoint,
                                                 MIDIStringProperty property,
                                                 std::string_view value) {
    return serving().setStringProperty(endpoint, property, value);
}

MIDIStatus FallbackMIDISystem::setIntegerProperty(MIDIEndpointRef endpoint,
                                                  MIDIIntegerProperty property,
                                                  std::int32_t value) {
    return serving().setIntegerProperty(endpoint, property, value);
}

MIDIStatus FallbackMIDISystem::emit(MIDIEndpointRef endpoint, MIDITimeStamp timeStamp,
                                    std::span<const std::uint8_t> bytes) {
    return serving().emit(endpoint, timeStamp, bytes);
}

void FallbackMIDISystem::disposeEndpoint(MIDIEndpointRef endpoint) noexcept {
    serving().disposeEndpoint(endpoint);
}

void FallbackMIDISystem::disposeClient(MIDIClientRef client) noexcept {
    serving().disposeClient(client);
}

MIDITimeStamp FallbackMIDISystem::currentHostTime() const noexcept {
    return serving().currentHostTime();
}

MIDIStatus FallbackMIDISystem::clientLoss(MIDIClientRef client) const noexcept {
    return serving().clientLoss(client);
}

void FallbackMIDISystem::setLossHandler(LossHandler handler) {
    preferred_->setLossHandler(handler);
    fallback_->setLossHandler(std::move(handler));
}

std::string_view FallbackMIDISystem::systemName() const noexcept {
    return serving().systemName();
}

MIDISystem& FallbackMIDISystem::serving() const noexcept {
    return chosen_ != nullptr ? *chosen_ : *preferred_;
}

} // namespace varnello
