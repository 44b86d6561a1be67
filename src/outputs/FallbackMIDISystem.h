#pragma once

#include "outputs/MIDISystem.h"

#include <memory>

namespace varnello {

// Uses the preferred MIDI system when it can create a client, otherwise the
// fallback; when neither can, reports the preferred one's failure. The first
// client created settles which one serves every later call. Not thread-safe:
// one caller at a time.
class FallbackMIDISystem final : public MIDISystem {
public:
    FallbackMIDISystem(std::unique_ptr<MIDISystem> preferred, std::unique_ptr<MIDISystem> fallback);

    MIDIStatus createClient(std::string_view name, MIDIClientRef& client) override;
    MIDIStatus createSource(MIDIClientRef client, std::string_view name,
                            MIDIEndpointRef& endpoint) override;
    MIDIStatus setStringProperty(MIDIEndpointRef endpoint, MIDIStringProperty property,
                                 std::string_view value) override;
    MIDIStatus setIntegerProperty(MIDIEndpointRef endpoint, MIDIIntegerProperty property,
                                  std::int32_t value) override;
    MIDIStatus emit(MIDIEndpointRef endpoint, MIDITimeStamp timeStamp,
                    std::span<const std::uint8_t> bytes) override;
    void disposeEndpoint(MIDIEndpointRef endpoint) noexcept override;
    void disposeClient(MIDIClientRef client) noexcept override;
    MIDITimeStamp currentHostTime() const noexcept override;
    MIDIStatus clientLoss(MIDIClientRef client) const noexcept override;
    // Both systems hear of it: which one serves is not known yet.
    void setLossHandler(LossHandler handler) override;
    // The one that serves, once the first client settled it; the preferred before.
    std::string_view systemName() const noexcept override;

private:
    MIDISystem& serving() const noexcept;

    std::unique_ptr<MIDISystem> preferred_;
    std::unique_ptr<MIDISystem> fallback_;
    MIDISystem* chosen_ = nullptr;
};

} // namespace varnello
