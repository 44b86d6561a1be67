#include "outputs/MIDIBackendChoice.h"

#include "outputs/AlsaMIDISystem.h"
#include "outputs/FallbackMIDISystem.h"
#include "outputs/JackMIDISystem.h"

namespace varnello {

std::optional<MIDIBackendChoice> parseMIDIBackendChoice(std::string_view text) noexcept {
    if (text == "auto") {
        return MIDIBackendChoice::automatic;
    }
    if (text == "alsa") {
        return MIDIBackendChoice::alsa;
    }
    if (text == "jack") {
        return MIDIBackendChoice::jack;
    }
    return std::nullopt;
}

std::string_view midiBackendChoiceName(MIDIBackendChoice choice) noexcept {
    switch (choice) {
    case MIDIBackendChoice::alsa:
        return "alsa";
    case MIDIBackendChoice::jack:
        return "jack";
    case MIDIBackendChoice::automatic:
        break;
    }
    return "auto";
}

std::unique_ptr<MIDISystem> makeMIDISystem(MIDIBackendChoice choice) {
    switch (choice) {
    case MIDIBackendChoice::alsa:
        return std::make_unique<AlsaMIDISystem>();
    case MIDIBackendChoice::jack:
        return std::make_unique<JackMIDISystem>();
    case MIDIBackendChoice::automatic:
        break;
    }
    return std::make_unique<FallbackMIDISystem>(std::make_unique<AlsaMIDISystem>(),
                                                std::make_unique<JackMIDISystem>());
}

} // namespace varnello
