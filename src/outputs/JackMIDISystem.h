#pragma once

#include "outputs/MIDIBackendChoice.h"
#include "outputs/MIDISystem.h"

#include <map>
#include <memory>

namespace varnello {

class JackMIDIClient;

// The MIDI system over JACK (jackd, or PipeWire's JACK layer): a client is a
// JACK client of a server that already runs, a source is its one MIDI output
// port, and the properties become JACK metadata of that port. A client whose
// server went away is lost (jackStatus::serverGone). Statuses are fixed
// negative codes (see JackMIDIClient.h). Not thread-safe: one caller at a time.
class JackMIDISystem final : public MIDISystem {
public:
    // Metadata keys of the port's properties.
    static constexpr const char* manufacturerKey = "urn:orvane:TessaroBridge:midi:manufacturer";
    static constexpr const char* modelKey = "urn:orvane:TessaroBridge:midi:model";
    static constexpr const char* uniqueIDKey = "urn:orvane:TessaroBridge:midi:uniqueID";

    JackMIDISystem();
    ~JackMIDISystem() override;

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
        return midiBackendChoiceName(MIDIBackendChoice::jack);
    }
    MIDITimeStamp currentHostTime() const noexcept override;
    MIDIStatus clientLoss(MIDIClientRef client) const noexcept override;
    void setLossHandler(LossHandler handler) override;

private:
    JackMIDIClient* clientOf(MIDIEndpointRef endpoint) const noexcept;

    LossHandler lossHandler_;
    bool quietened_ = false;
    MIDIObjectRef nextRef_ = 1;
    std::map<MIDIClientRef, std::unique_ptr<JackMIDIClient>> clients_;
    std::map<MIDIEndpointRef, MIDIClientRef> ports_;
};

} // namespace varnello
