#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace varnello {

using MIDIObjectRef = std::uint32_t; // 0 = none
using MIDIClientRef = MIDIObjectRef;
using MIDIEndpointRef = MIDIObjectRef;
using MIDIStatus = std::int32_t; // 0 = success, otherwise the backend's negative code
using MIDITimeStamp = std::uint64_t;

enum class MIDIStringProperty { manufacturer, model };
enum class MIDIIntegerProperty { uniqueID };

// The operations the bridge needs from the computer's MIDI system: a named
// client, a named virtual source with descriptive properties, emission of one
// time-stamped packet of bytes, and disposal. Each fallible operation reports
// a status instead of throwing, so that the caller decides which step failed.
// Not thread-safe: one caller at a time (creation on the main thread, emission
// on the server queue, never overlapping), apart from the loss handler.
class MIDISystem {
public:
    using LossHandler = std::function<void()>;

    virtual ~MIDISystem() = default;

    virtual MIDIStatus createClient(std::string_view name, MIDIClientRef& client) = 0;
    // Publishes a source that other MIDI programs can read from.
    virtual MIDIStatus createSource(MIDIClientRef client, std::string_view name,
                                    MIDIEndpointRef& endpoint) = 0;
    virtual MIDIStatus setStringProperty(MIDIEndpointRef endpoint, MIDIStringProperty property,
                                         std::string_view value) = 0;
    virtual MIDIStatus setIntegerProperty(MIDIEndpointRef endpoint, MIDIIntegerProperty property,
                                          std::int32_t value) = 0;
    // Delivers one packet to every program listening to the source.
    virtual MIDIStatus emit(MIDIEndpointRef endpoint, MIDITimeStamp timeStamp,
                            std::span<const std::uint8_t> bytes) = 0;
    virtual void disposeEndpoint(MIDIEndpointRef endpoint) noexcept = 0;
    virtual void disposeClient(MIDIClientRef client) noexcept = 0;
    // Now, in the time base of emitted packets.
    virtual MIDITimeStamp currentHostTime() const noexcept = 0;

    // 0 while `client` can carry MIDI; once it cannot (its server went away,
    // its sequencer connection broke) the status that says why. A lost client
    // stays lost: disposing it is all that is left to do with it. A system
    // whose clients cannot be lost keeps this default.
    virtual MIDIStatus clientLoss(MIDIClientRef client) const noexcept {
        static_cast<void>(client);
        return 0;
    }
    // Told when the system notices a lost client by itself, on a thread of its
    // own (JACK's), so it must only pass the news on. Set before the first
    // client is created.
    virtual void setLossHandler(LossHandler handler) { static_cast<void>(handler); }
    // The system's name as the --midi option spells it ("alsa", "jack"); empty for
    // a system of tests.
    virtual std::string_view systemName() const noexcept { return {}; }
};

} // namespace varnello
