#pragma once

#include <exception>
#include <string>

namespace varnello {

// Why the command line was refused; the program prints the text and exits with
// status 2. Thread-safe (a plain value).
class ProgramOptionsError : public std::exception {
public:
    enum class Code {
        unknownOption,
        invalidMIDIBackend,
        repeatedOption,
        invalidPort,
        missingValue,
        unknownLedgerCommand
    };

    static ProgramOptionsError unknownOption(std::string option);
    static ProgramOptionsError invalidMIDIBackend(std::string value);
    static ProgramOptionsError repeatedOption(std::string option);
    static ProgramOptionsError unknownLedgerCommand(std::string word);
    // A --port value that is not a TCP port from 1 to 65535.
    static ProgramOptionsError invalidPort(std::string value);
    // An option that takes a value given last, without one.
    static ProgramOptionsError missingValue(std::string option);

    Code code() const noexcept { return code_; }
    // The option or value the text names.
    const std::string& argument() const noexcept { return argument_; }
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    friend bool operator==(const ProgramOptionsError& a, const ProgramOptionsError& b) noexcept {
        return a.code_ == b.code_ && a.argument_ == b.argument_;
    }

private:
    ProgramOptionsError(Code code, std::string argument);

    Code code_;
    std::string argument_;
    std::string message_;
};

} // namespace varnello
