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

// The commands that talk to a running bridge or look after its ledger: the command
// words first, then only the one flag each takes (and --help).
ProgramOptions parseCommand(std::span<const std::string_view> arguments) {
    ProgramOptions options;
    std::string_view flag;
    std::size_t words = 1;
    if (arguments[0] == "status") {
        options.mode = ProgramOptions::Mode::status;
        flag = "--json";
    } else if (arguments.size() > 1 && arguments[1] == "status") {
        options.mode = ProgramOptions::Mode::ledgerStatus;
        words = 2;
    } else if (arguments.size() > 1 && arguments[1] == "set-aside") {
        options.mode = ProgramOptions::Mode::ledgerSetAside;
        flag = "--yes";
        words = 2;
    } else {
        throw ProgramOptionsError::unknownLedgerCommand(
            arguments.size() > 1 ? std::string(arguments[1]) : std::string());
    }
    bool help = false;
    bool flagGiven = false;
    for (const std::string_view argument : arguments.subspan(words)) {
        if (argument == "--help") {
            help = true;
        } else if (!flag.empty() && argument == flag) {
            if (flagGiven) {
                throw ProgramOptionsError::repeatedOption(std::string(flag));
            }
            flagGiven = true;
        } else {
            throw ProgramOptionsError::unknownOption(std::string(argument));
        }
    }
    options.json = flagGiven && flag == "--json";
    options.yes = flagGiven && flag == "--yes";
    if (help) {
        options.mode = ProgramOptions::Mode::help;
    }
    return options;
}

} // namespace

ProgramOptions ProgramOptions::parse(std::span<const std::string_view> arguments) {
    if (!arguments.empty() && (arguments[0] == "status" || arguments[0] == "ledger")) {
        return parseCommand(arguments);
    }
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
           "       varnello-bridge status [--json]\n"
           "       varnello-bridge ledger status | ledger set-aside [--yes]\n"
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
           "  --version     show the version\n"
           "\n"
           "  status               how the running bridge is doing (exit status 3 when none\n"
           "                       runs); --json prints one JSON object\n"
           "  ledger status        the command ledger's folder, files, fill and whether\n"
           "                       they load (exit status 1 when they do not)\n"
           "  ledger set-aside     moves the ledger's two files into a new folder beside\n"
           "                       them, so that the next start begins a fresh ledger;\n"
           "                       only with --yes, and only while no bridge runs\n";
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
