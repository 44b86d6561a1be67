#include "app/ProgramOptions.h"

#include "app/ProgramOptionsError.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace varnello {
namespace {

using Mode = ProgramOptions::Mode;

TEST(ProgramOptions, AcceptedCommandLines) {
    const struct {
        std::vector<std::string_view> arguments;
        ProgramOptions expected;
    } cases[] = {
        {{}, {Mode::tray, MIDIBackendChoice::automatic}},
        {{"--headless"}, {Mode::headless, MIDIBackendChoice::automatic}},
        {{"--midi=jack"}, {Mode::tray, MIDIBackendChoice::jack}},
        {{"--headless", "--midi=alsa"}, {Mode::headless, MIDIBackendChoice::alsa}},
        {{"--midi=auto", "--headless"}, {Mode::headless, MIDIBackendChoice::automatic}},
        {{"--help"}, {Mode::help, MIDIBackendChoice::automatic}},
        {{"--version"}, {Mode::version, MIDIBackendChoice::automatic}},
        {{"--headless", "--help"}, {Mode::help, MIDIBackendChoice::automatic}},
        {{"--version", "--help"}, {Mode::help, MIDIBackendChoice::automatic}},
        {{"--midi=jack", "--version"}, {Mode::version, MIDIBackendChoice::jack}},
        {{"status"}, {Mode::status, MIDIBackendChoice::automatic}},
        {{"status", "--json"}, {Mode::status, MIDIBackendChoice::automatic, true}},
        {{"status", "--help"}, {Mode::help, MIDIBackendChoice::automatic}},
        {{"ledger", "status"}, {Mode::ledgerStatus, MIDIBackendChoice::automatic}},
        {{"ledger", "set-aside"}, {Mode::ledgerSetAside, MIDIBackendChoice::automatic}},
        {{"ledger", "set-aside", "--yes"},
         {Mode::ledgerSetAside, MIDIBackendChoice::automatic, false, true}},
        {{"--port", "54885"}, {Mode::tray, MIDIBackendChoice::automatic, false, false, 54885}},
        {{"--port=1"}, {Mode::tray, MIDIBackendChoice::automatic, false, false, 1}},
        {{"--headless", "--port", "65535", "--midi=jack"},
         {Mode::headless, MIDIBackendChoice::jack, false, false, 65535}},
        {{"--port", "8000", "--headless"},
         {Mode::headless, MIDIBackendChoice::automatic, false, false, 8000}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProgramOptions::parse(c.arguments), c.expected)
            << testing::PrintToString(c.arguments);
    }
}

TEST(ProgramOptions, RefusedCommandLines) {
    const struct {
        std::vector<std::string_view> arguments;
        ProgramOptionsError expected;
        const char* text;
    } cases[] = {
        {{"--verbose"},
         ProgramOptionsError::unknownOption("--verbose"),
         "Unknown option \u2018--verbose\u2019."},
        {{"-h"}, ProgramOptionsError::unknownOption("-h"), "Unknown option \u2018-h\u2019."},
        {{"headless"},
         ProgramOptionsError::unknownOption("headless"),
         "Unknown option \u2018headless\u2019."},
        {{"--midi"},
         ProgramOptionsError::unknownOption("--midi"),
         "Unknown option \u2018--midi\u2019."},
        {{"--midi", "jack"},
         ProgramOptionsError::unknownOption("--midi"),
         "Unknown option \u2018--midi\u2019."},
        {{"--headless="},
         ProgramOptionsError::unknownOption("--headless="),
         "Unknown option \u2018--headless=\u2019."},
        {{""}, ProgramOptionsError::unknownOption(""), "Unknown option \u2018\u2019."},
        {{"--midi=coremidi"},
         ProgramOptionsError::invalidMIDIBackend("coremidi"),
         "The MIDI system must be auto, alsa or jack, not \u2018coremidi\u2019."},
        {{"--midi=JACK"},
         ProgramOptionsError::invalidMIDIBackend("JACK"),
         "The MIDI system must be auto, alsa or jack, not \u2018JACK\u2019."},
        {{"--midi="},
         ProgramOptionsError::invalidMIDIBackend(""),
         "The MIDI system must be auto, alsa or jack, not \u2018\u2019."},
        {{"--midi=alsa", "--midi=jack"},
         ProgramOptionsError::repeatedOption("--midi"),
         "The option \u2018--midi\u2019 is given more than once."},
        {{"--headless", "--headless"},
         ProgramOptionsError::repeatedOption("--headless"),
         "The option \u2018--headless\u2019 is given more than once."},
        {{"status", "--yes"},
         ProgramOptionsError::unknownOption("--yes"),
         "Unknown option \u2018--yes\u2019."},
        {{"status", "--json", "--json"},
         ProgramOptionsError::repeatedOption("--json"),
         "The option \u2018--json\u2019 is given more than once."},
        {{"ledger", "status", "--yes"},
         ProgramOptionsError::unknownOption("--yes"),
         "Unknown option \u2018--yes\u2019."},
        {{"ledger", "set-aside", "--json"},
         ProgramOptionsError::unknownOption("--json"),
         "Unknown option \u2018--json\u2019."},
        {{"ledger", "--headless", "set-aside", "--yes"},
         ProgramOptionsError::unknownLedgerCommand("--headless"),
         "The ledger command must be \u2018status\u2019 or \u2018set-aside\u2019, not "
         "\u2018--headless\u2019."},
        {{"ledger"},
         ProgramOptionsError::unknownLedgerCommand(""),
         "The ledger command must be \u2018status\u2019 or \u2018set-aside\u2019, not "
         "\u2018\u2019."},
        // The commands come first; after a bridge option they are unknown words.
        {{"--headless", "status"},
         ProgramOptionsError::unknownOption("status"),
         "Unknown option \u2018status\u2019."},
        {{"--port", "0"},
         ProgramOptionsError::invalidPort("0"),
         "The option \u2018--port\u2019 needs a TCP port between 1 and 65535, not \u20180\u2019."},
        {{"--port=65536"},
         ProgramOptionsError::invalidPort("65536"),
         "The option \u2018--port\u2019 needs a TCP port between 1 and 65535, not "
         "\u201865536\u2019."},
        {{"--port", "-1"},
         ProgramOptionsError::invalidPort("-1"),
         "The option \u2018--port\u2019 needs a TCP port between 1 and 65535, not \u2018-1\u2019."},
        {{"--port", "http"},
         ProgramOptionsError::invalidPort("http"),
         "The option \u2018--port\u2019 needs a TCP port between 1 and 65535, not "
         "\u2018http\u2019."},
        {{"--port="},
         ProgramOptionsError::invalidPort(""),
         "The option \u2018--port\u2019 needs a TCP port between 1 and 65535, not \u2018\u2019."},
        // The word after --port is its value, even when it names an option.
        {{"--port", "--headless"},
         ProgramOptionsError::invalidPort("--headless"),
         "The option \u2018--port\u2019 needs a TCP port between 1 and 65535, not "
         "\u2018--headless\u2019."},
        {{"--headless", "--port"},
         ProgramOptionsError::missingValue("--port"),
         "The option \u2018--port\u2019 needs a value."},
        {{"--port", "80", "--port=81"},
         ProgramOptionsError::repeatedOption("--port"),
         "The option \u2018--port\u2019 is given more than once."},
        {{"--portx=80"},
         ProgramOptionsError::unknownOption("--portx=80"),
         "Unknown option \u2018--portx=80\u2019."},
        // An unknown option is refused even beside --help: the user mistyped something.
        {{"--help", "--frobnicate"},
         ProgramOptionsError::unknownOption("--frobnicate"),
         "Unknown option \u2018--frobnicate\u2019."},
    };
    for (const auto& c : cases) {
        try {
            ProgramOptions::parse(c.arguments);
            ADD_FAILURE() << "accepted " << testing::PrintToString(c.arguments);
        } catch (const ProgramOptionsError& error) {
            EXPECT_EQ(error, c.expected) << error.what();
            EXPECT_STREQ(error.what(), c.text);
        }
    }
}

TEST(ProgramOptions, UsageNamesEveryOption) {
    const std::string usage = ProgramOptions::usage();
    for (const char* option :
         {"--headless", "--midi=auto", "--midi=alsa", "--midi=jack", "--port N", "--help",
          "--version", "status [--json]", "ledger status", "ledger set-aside [--yes]"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

TEST(ProgramOptions, FrontEndNeedsAGraphicalSession) {
    const struct {
        Mode mode;
        const char* display;
        const char* wayland;
        FrontEnd expected;
    } cases[] = {
        {Mode::tray, ":0", nullptr, FrontEnd::tray},
        {Mode::tray, nullptr, "wayland-0", FrontEnd::tray},
        {Mode::tray, ":1", "wayland-0", FrontEnd::tray},
        {Mode::tray, nullptr, nullptr, FrontEnd::headlessWithoutDisplay},
        {Mode::tray, "", "", FrontEnd::headlessWithoutDisplay},
        {Mode::tray, "", nullptr, FrontEnd::headlessWithoutDisplay},
        {Mode::headless, ":0", "wayland-0", FrontEnd::headless},
        {Mode::headless, nullptr, nullptr, FrontEnd::headless},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chooseFrontEnd(c.mode, c.display, c.wayland), c.expected)
            << (c.display ? c.display : "unset") << " " << (c.wayland ? c.wayland : "unset");
    }
}

} // namespace
} // namespace varnello
