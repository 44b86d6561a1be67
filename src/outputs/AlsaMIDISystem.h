#pragma once

#include "outputs/MIDIBackendChoice.h"
#include "outputs/MIDISystem.h"

#include <map>
#include <memory>

namespace varnello {

class AlsaSequencer;

// The MIDI system over the ALSA sequencer: a client is a sequencer client,
// a source is a port readable and subscribable by other clients. ALSA ports
// carry no manufacturer, model or unique ID; those properties report
// -ENOTSUP. A client whose connection to the sequencer broke is lost. Statuses
// are ALSA's -errno. Not thread-safe: one caller at a time.
class AlsaMIDISystem final : public MIDISystem {
public:
    AlsaMIDISystem();
    ~AlsaMIDISystem() override;

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
    std::string_view systemName() const noexcept override {
        return midiBackendChoiceName(MIDIBackendChoice::alsa);
    }
    MIDITimeStamp currentHostTime() const noexcept override;
    MIDIStatus clientLoss(MIDIClientRef client) const noexcept override;

private:
    struct Port {
        MIDIClientRef client;
        int number;
    };

    MIDIObjectRef nextRef_ = 1;
    std::map<MIDIClientRef, std::unique_ptr<AlsaSequencer>> clients_;
    std::map<MIDIEndpointRef, Port> ports_;
};

} // namespace varnello
