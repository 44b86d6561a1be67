#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace varnello {

// Why the virtual MIDI source could not be created or could not emit. The
// status is the MIDI system's signed code (ALSA's -errno, or a fixed negative
// JACK code). Thread-safe (a plain value).
class VirtualMIDISourceError : public std::exception {
public:
    enum class Code { coreMIDI };

    static VirtualMIDISourceError coreMIDI(std::string operation, std::int32_t status);

    Code code() const noexcept { return code_; }
    const std::string& operation() const noexcept { return operation_; }
    std::int32_t status() const noexcept { return status_; }
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    friend bool operator==(const VirtualMIDISourceError& a,
                           const VirtualMIDISourceError& b) noexcept {
        return a.code_ == b.code_ && a.operation_ == b.operation_ && a.status_ == b.status_;
    }

private:
    VirtualMIDISourceError(Code code, std::string operation, std::int32_t status);

    Code code_;
    std::string operation_;
    std::int32_t status_;
    std::string message_;
};

} // namespace varnello
