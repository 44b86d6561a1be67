#include "outputs/VirtualMIDISource.h"

#include "outputs/VirtualMIDISourceError.h"
#include "protocol/TessaroBridgeValidation.h"

#include <cassert>
#include <utility>

namespace varnello {
namespace {

constexpr std::string_view sourceName = "Varnello Bridge";
constexpr std::string_view manufacturer = "QV";
constexpr std::string_view model = "Varnello Bridge";

} // namespace

VirtualMIDISource::VirtualMIDISource(std::unique_ptr<MIDISystem> system, std::uint32_t uniqueID)
    : system_(std::move(system)) {
    assert(system_);
    if (const MIDIStatus status = system_->createClient(sourceName, client_); status != 0) {
        client_ = 0;
        throw VirtualMIDISourceError::coreMIDI("Create MIDI client", status);
    }
    if (const MIDIStatus status = system_->createSource(client_, sourceName, endpoint_);
        status != 0) {
        endpoint_ = 0;
        system_->disposeClient(client_);
        client_ = 0;
        throw VirtualMIDISourceError::coreMIDI("Create virtual MIDI source", status);
    }
    // Descriptive only: a system that refuses a property still carries the MIDI.
    system_->setStringProperty(endpoint_, MIDIStringProperty::manufacturer, manufacturer);
    system_->setStringProperty(endpoint_, MIDIStringProperty::model, model);
    system_->setIntegerProperty(endpoint_, MIDIIntegerProperty::uniqueID,
                                static_cast<std::int32_t>(uniqueID));
}

VirtualMIDISource::~VirtualMIDISource() {
    if (endpoint_ != 0) {
        system_->disposeEndpoint(endpoint_);
    }
    if (client_ != 0) {
        system_->disposeClient(client_);
    }
}

void VirtualMIDISource::send(std::span<const std::uint8_t> bytes) {
    validateMIDIBytes(bytes);
    const MIDIStatus status = system_->emit(endpoint_, system_->currentHostTime(), bytes);
    if (status != 0) {
        throw VirtualMIDISourceError::coreMIDI("Send MIDI", status);
    }
}

} // namespace varnello
