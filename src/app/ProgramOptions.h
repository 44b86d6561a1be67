#pragma once

#include "outputs/MIDIBackendChoice.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace varnello {

// What the command line asks for:
//   varnello-bridge [--headless] [--midi=auto|alsa|jack] [--port N]
//   varnello-bridge --help | --version
//   varnello-bridge status [--json]
//   varnello-bridge ledger status | ledger set-aside [--yes]
// A plain value; thread-safe.
struct ProgramOptions {
    enum class Mode { tray, headless, help, version, status, ledgerStatus, ledgerSetAside };

    Mode mode = Mode::tray;
    MIDIBackendChoice midi = MIDIBackendChoice::automatic;
    // status: one JSON object instead of lines.
    bool json = false;
    // ledger set-aside: do it, instead of saying what it would do.
    bool yes = false;
    // The iPad listener's TCP port (--port N or --port=N); it wins over the
    // preference. nullopt: the preference decides.
    std::optional<std::uint16_t> port = std::nullopt;

    // The arguments after the program name. --help and --version win over the
    // others. Throws ProgramOptionsError.
    static ProgramOptions parse(std::span<const std::string_view> arguments);

    // The text --help prints.
    static std::string usage();

    friend bool operator==(const ProgramOptions&, const ProgramOptions&) = default;
};

// How the program runs once the options are read.
enum class FrontEnd {
    tray,
    headless,
    // The tray application was asked for, but there is no graphical session.
    headlessWithoutDisplay,
};

// The tray needs a graphical session: DISPLAY or WAYLAND_DISPLAY, each counted
// only when set and not empty (nullptr when unset). Thread-safe.
FrontEnd chooseFrontEnd(ProgramOptions::Mode mode, const char* display,
                        const char* waylandDisplay) noexcept;

} // namespace varnello
