#pragma once

#include "outputs/MIDISystem.h"

#include <cstdint>
#include <memory>
#include <span>

namespace varnello {

// The bridge's MIDI output: one virtual source named "Varnello Bridge" that
// other MIDI programs can read. Created on the main thread; send is called on
// the server queue. Never used from two threads at once, so it holds no lock.
class VirtualMIDISource {
public:
    // Publishes the source. Throws VirtualMIDISourceError ("Create MIDI client"
    // or "Create virtual MIDI source"); a failed creation leaves nothing
    // registered with the MIDI system.
    VirtualMIDISource(std::unique_ptr<MIDISystem> system, std::uint32_t uniqueID);
    ~VirtualMIDISource();

    VirtualMIDISource(const VirtualMIDISource&) = delete;
    VirtualMIDISource& operator=(const VirtualMIDISource&) = delete;

    // Emits the whole sequence as one packet. Throws TessaroBridgeWireError
    // for a sequence that is not whole channel voice messages (nothing is
    // emitted), or VirtualMIDISourceError ("Send MIDI").
    void send(std::span<const std::uint8_t> bytes);

    MIDIClientRef client() const noexcept { return client_; }
    MIDIEndpointRef endpoint() const noexcept { return endpoint_; }

private:
    std::unique_ptr<MIDISystem> system_;
    MIDIClientRef client_ = 0;
    MIDIEndpointRef endpoint_ = 0;
};

} // namespace varnello
