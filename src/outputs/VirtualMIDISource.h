#pragma once

#include "outputs/MIDISystem.h"
#include "support/Executor.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

namespace varnello {

// Whether the virtual source is there for other MIDI programs.
enum class MIDIConnectionState {
    connected, // the client and its source are published
    lost,      // the MIDI system let go of them; every send fails until they are reopened
};

// The bridge's MIDI output: one virtual source named "Varnello Bridge" that
// other MIDI programs can read. When the MIDI system lets go of it (the JACK
// server went away, the sequencer client broke), every send is refused and,
// once reopenOn has given the source a context, the client is released and
// opened again about once a second with the same names and properties. Nothing sent meanwhile is
// kept: a cue that could not sound on time never sounds late.
//
// Created on the main thread. Until reopenOn, one thread at a time may use it;
// from then on send, state and the reopening belong to that context, and the
// main thread only calls stopReopening and, after the context has stopped
// running, the destructor. Holds no lock but the one that keeps the MIDI
// system's own thread from posting to a context that is going away.
class VirtualMIDISource {
public:
    // Told on the reopening context each time the output is lost (with the
    // status that ended it) and each time it is back (status 0).
    using ConnectionHandler = std::function<void(MIDIConnectionState state, MIDIStatus status)>;

    static constexpr std::chrono::milliseconds reopenInterval{1000};

    // Publishes the source. Throws VirtualMIDISourceError ("Create MIDI client"
    // or "Create virtual MIDI source"); a failed creation leaves nothing
    // registered with the MIDI system.
    VirtualMIDISource(std::unique_ptr<MIDISystem> system, std::uint32_t uniqueID);
    ~VirtualMIDISource();

    VirtualMIDISource(const VirtualMIDISource&) = delete;
    VirtualMIDISource& operator=(const VirtualMIDISource&) = delete;

    // Main thread, once: hands the source to `context`, which reopens a lost
    // client there and tells `onChange`. `context` must outlive the source or
    // the call to stopReopening.
    void reopenOn(Executor& context, ConnectionHandler onChange);
    // Main thread: nothing of the source is posted to its context any more.
    void stopReopening() noexcept;

    // Emits the whole sequence as one packet. Throws TessaroBridgeWireError
    // for a sequence that is not whole channel voice messages (nothing is
    // emitted), or VirtualMIDISourceError ("Send MIDI"), also while the
    // output is lost.
    void send(std::span<const std::uint8_t> bytes);

    MIDIConnectionState state() const noexcept;
    // The MIDI system that carries the source ("alsa", "jack"), settled when the
    // source was published. Any thread.
    std::string_view systemName() const noexcept;
    // 0 once a lost output has been released.
    MIDIClientRef client() const noexcept;
    MIDIEndpointRef endpoint() const noexcept;

private:
    struct Connection;
    struct Reopening;

    std::shared_ptr<Reopening> reopening_;
    std::shared_ptr<Connection> connection_;
};

} // namespace varnello
