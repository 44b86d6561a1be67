#include "app/ProgramOptions.h"

#include "app/ProgramOptionsError.h"
#include "support/TcpPort.h"

#include <optional>

namespace varnello {

namespace {

constexpr std::string_view midiPrefix = "--midi=";
constexpr std::string_view portOption = "--port";
constexpr std::string_view portPrefix = "--port=";

std::uint16_t portFrom(std::string_view value) {
    const auto port = parseTcpPort(value);
    if (!port) {
        throw ProgramOptionsError::invalidPort(std::string(value));
    }
    return *port;
}

} // namespace

ProgramOptions ProgramOptions::parse(std::span<const std::string_view> arguments) {
    ProgramOptions options;
    bool headless = false;
    bool help = false;
    bool version = false;
    std::optional<MIDIBackendChoice> midi;
    for (auto next = arguments.begin(); next != arguments.end(); ++next) {
        const std::string_view argument = *next;
        if (argument == "--help") {
            help = true;
        } else if (argument == "--version") {
            version = true;
        } else if (argument == "--headless") {
            if (headless) {
                throw ProgramOptionsError::repeatedOption("--headless");
            }
            headless = true;
        } else if (argument.starts_with(midiPrefix)) {
            if (midi) {
                throw ProgramOptionsError::repeatedOption("--midi");
            }
            const std::string_view value = argument.substr(midiPrefix.size());
            midi = parseMIDIBackendChoice(value);
            if (!midi) {
                throw ProgramOptionsError::invalidMIDIBackend(std::string(value));
            }
        } else if (argument == portOption || argument.starts_with(portPrefix)) {
            if (options.port) {
                throw ProgramOptionsError::repeatedOption(std::string(portOption));
            }
            if (argument != portOption) {
                options.port = portFrom(argument.substr(portPrefix.size()));
            } else if (++next == arguments.end()) {
                throw ProgramOptionsError::missingValue(std::string(portOption));
            } else {
                options.port = portFrom(*next);
            }
        } else {
            throw ProgramOptionsError::unknownOption(std::string(argument));
        }
    }
    if (help) {
        options.mode = Mode::help;
    } else if (version) {
        options.mode = Mode::version;
    } else if (headless) {
        options.mode = Mode::headless;
    }
    options.midi = midi.value_or(MIDIBackendChoice::automatic);
    return options;
}

std::string ProgramOptions::usage() {
    return "Usage: varnello-bridge [--headless] [--midi=auto|alsa|jack] [--port N]\n"
           "       varnello-bridge --help | --version\n"
           "\n"
           "Connects the Varnello app on iPads to this computer's MIDI and OSC programs.\n"
           "\n"
           "  --headless    run without the tray icon, as a service (logs to standard error,\n"
           "                or to the journal under systemd)\n"
           "  --midi=auto   the ALSA sequencer when it can be opened, else a running JACK\n"
           "                server (the default)\n"
           "  --midi=alsa   the ALSA sequencer\n"
           "  --midi=jack   a running JACK server\n"
           "  --port N      let iPads connect on TCP port N (1 to 65535) instead of a port\n"
           "                the system chooses; wins over the preference \"iPadPort\"\n"
           "  --help        show this text\n"
           "  --version     show the version\n";
}

FrontEnd chooseFrontEnd(ProgramOptions::Mode mode, const char* display,
                        const char* waylandDisplay) noexcept {
    if (mode != ProgramOptions::Mode::tray) {
        return FrontEnd::headless;
    }
    const auto present = [](const char* value) { return value != nullptr && *value != '\0'; };
    if (present(display) || present(waylandDisplay)) {
        return FrontEnd::tray;
    }
    return FrontEnd::headlessWithoutDisplay;
}

} // namespace varnello
