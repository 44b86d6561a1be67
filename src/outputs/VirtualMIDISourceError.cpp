#include "outputs/VirtualMIDISourceError.h"

#include <utility>

namespace varnello {
namespace {

std::string describe(VirtualMIDISourceError::Code code, const std::string& operation,
                     std::int32_t status) {
    switch (code) {
    case VirtualMIDISourceError::Code::coreMIDI:
        return "CoreMIDI could not perform \u2018" + operation + "\u2019 (" +
               std::to_string(status) + ").";
    }
    return {};
}

} // namespace

VirtualMIDISourceError::VirtualMIDISourceError(Code code, std::string operation,
                                               std::int32_t status)
    : code_(code), operation_(std::move(operation)), status_(status),
      message_(describe(code_, operation_, status_)) {}

VirtualMIDISourceError VirtualMIDISourceError::coreMIDI(std::string operation,
                                                        std::int32_t status) {
    return VirtualMIDISourceError(Code::coreMIDI, std::move(operation), status);
}

} // namespace varnello
