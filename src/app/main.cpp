#include "app/BridgeProgram.h"
#include "app/LedgerCommands.h"
#include "app/ProgramOptions.h"
#include "app/ProgramOptionsError.h"
#include "app/TerminationSignals.h"
#include "ledger/CommandLedger.h"
#include "ledger/PosixLedgerFileSystem.h"
#include "server/DescriptorLimit.h"
#include "support/JournalLogSink.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    using namespace varnello;
    // Before Qt or the server start a thread, so that every thread inherits it.
    TerminationSignals::block();
    raiseDescriptorLimit();

    ProgramOptions options;
    try {
        const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
        options = ProgramOptions::parse(arguments);
    } catch (const ProgramOptionsError& error) {
        std::fprintf(stderr, "varnello-bridge: %s\nTry \u2018varnello-bridge --help\u2019.\n",
                     error.what());
        return 2;
    }
    switch (options.mode) {
    case ProgramOptions::Mode::help:
        std::fputs(ProgramOptions::usage().c_str(), stdout);
        return 0;
    case ProgramOptions::Mode::version:
        std::printf("varnello-bridge %s\n", VARNELLO_VERSION);
        return 0;
    case ProgramOptions::Mode::status:
        return runStatusCommand(argc, argv, options.json);
    case ProgramOptions::Mode::ledgerStatus:
    case ProgramOptions::Mode::ledgerSetAside:
        try {
            const auto fileSystem = std::make_shared<PosixLedgerFileSystem>();
            const auto ledgerFile = CommandLedger::standardFile(*fileSystem);
            if (options.mode == ProgramOptions::Mode::ledgerStatus) {
                return printLedgerStatus(fileSystem, ledgerFile, std::cout);
            }
            return setLedgerAside(*fileSystem, ledgerFile, options.yes,
                                  std::chrono::system_clock::now(), std::cout);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "varnello-bridge: %s\n", error.what());
            return 1;
        }
    case ProgramOptions::Mode::tray:
    case ProgramOptions::Mode::headless:
        break;
    }
    const FrontEnd frontEnd =
        chooseFrontEnd(options.mode, std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
    try {
        return runBridgeProgram(argc, argv, options, frontEnd, makeProgramLogSink());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "varnello-bridge: %s\n", error.what());
        return 1;
    }
}
