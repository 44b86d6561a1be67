#include "app/ProgramOptionsError.h"

#include <utility>

namespace varnello {

namespace {

std::string describe(ProgramOptionsError::Code code, const std::string& argument) {
    switch (code) {
    case ProgramOptionsError::Code::unknownOption:
        return "Unknown option \u2018" + argument + "\u2019.";
    case ProgramOptionsError::Code::invalidMIDIBackend:
        return "The MIDI system must be auto, alsa or jack, not \u2018" + argument + "\u2019.";
    case ProgramOptionsError::Code::repeatedOption:
        return "The option \u2018" + argument + "\u2019 is given more than once.";
    case ProgramOptionsError::Code::unknownLedgerCommand:
        return "The ledger command must be \u2018status\u2019 or \u2018set-aside\u2019, not "
               "\u2018" +
               argument + "\u2019.";
    case ProgramOptionsError::Code::invalidPort:
        return "The option \u2018--port\u2019 needs a TCP port between 1 and 65535, not \u2018" +
               argument + "\u2019.";
    case ProgramOptionsError::Code::missingValue:
        return "The option \u2018" + argument + "\u2019 needs a value.";
    }
    return {};
}

} // namespace

ProgramOptionsError::ProgramOptionsError(Code code, std::string argument)
    : code_(code), argument_(std::move(argument)), message_(describe(code_, argument_)) {}

ProgramOptionsError ProgramOptionsError::unknownOption(std::string option) {
    return ProgramOptionsError(Code::unknownOption, std::move(option));
}

ProgramOptionsError ProgramOptionsError::invalidMIDIBackend(std::string value) {
    return ProgramOptionsError(Code::invalidMIDIBackend, std::move(value));
}

ProgramOptionsError ProgramOptionsError::repeatedOption(std::string option) {
    return ProgramOptionsError(Code::repeatedOption, std::move(option));
}

ProgramOptionsError ProgramOptionsError::unknownLedgerCommand(std::string word) {
    return ProgramOptionsError(Code::unknownLedgerCommand, std::move(word));
}

ProgramOptionsError ProgramOptionsError::invalidPort(std::string value) {
    return ProgramOptionsError(Code::invalidPort, std::move(value));
}

ProgramOptionsError ProgramOptionsError::missingValue(std::string option) {
    return ProgramOptionsError(Code::missingValue, std::move(option));
}

} // namespace varnello
