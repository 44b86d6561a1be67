#pragma once

#include <exception>
#include <string>
#include <utility>

namespace varnello {

// A frame payload that is not JSON, or JSON that does not fit the message
// model (a missing key, a wrong JSON type, an unknown enumeration value, a
// malformed UUID or base64 text, a MIDI byte out of range). Its text is for
// logs and tests only and is never sent on the wire. A plain value. Thread-safe.
class TessaroBridgeDecodingFailure : public std::exception {
public:
    explicit TessaroBridgeDecodingFailure(std::string text) : text_(std::move(text)) {}

    const std::string& message() const noexcept { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};

} // namespace varnello
