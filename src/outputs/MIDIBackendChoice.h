#pragma once

#include "outputs/MIDISystem.h"

#include <memory>
#include <optional>
#include <string_view>

namespace varnello {

// Which MIDI system carries the virtual source (--midi=auto|alsa|jack).
enum class MIDIBackendChoice {
    automatic, // the ALSA sequencer when it opens, else a running JACK server, else ALSA's failure
    alsa,
    jack,
};

// "auto", "alsa" or "jack"; nothing for any other text. Thread-safe.
std::optional<MIDIBackendChoice> parseMIDIBackendChoice(std::string_view text) noexcept;

// The option value of a choice, which parseMIDIBackendChoice reads back; also the
// name each MIDI system gives itself. Thread-safe.
std::string_view midiBackendChoiceName(MIDIBackendChoice choice) noexcept;

// The MIDI system for a choice. Nothing is opened until a client is created,
// so the choice of `automatic` is made then. Thread-safe.
std::unique_ptr<MIDISystem> makeMIDISystem(MIDIBackendChoice choice);

} // namespace varnello
