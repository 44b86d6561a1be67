#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace varnello {

// A broken rule of the wire protocol: a bad hello, command payload, agent
// request or response, or frame. Its message reaches peers (as the detail of a
// rejected acknowledgement), so every text is fixed. A plain value. Thread-safe.
class TessaroBridgeWireError : public std::exception {
public:
    enum class Code {
        invalidProtocolVersion,
        invalidIdentity,
        invalidDisplayName,
        emptyCapabilities,
        emptyMIDIMessage,
        invalidMIDIStatus,
        invalidMIDILength,
        invalidMIDIDataByte,
        midiMessageTooLong,
        invalidOSCAddress,
        oscAddressTooLong,
        frameTooLarge,
        malformedFrame,
        agentPayloadTooLarge,
    };

    static TessaroBridgeWireError invalidProtocolVersion(std::int64_t version);
    static TessaroBridgeWireError invalidIdentity();
    static TessaroBridgeWireError invalidDisplayName();
    static TessaroBridgeWireError emptyCapabilities();
    static TessaroBridgeWireError emptyMIDIMessage();
    static TessaroBridgeWireError invalidMIDIStatus();
    static TessaroBridgeWireError invalidMIDILength(std::int64_t expected, std::int64_t actual);
    static TessaroBridgeWireError invalidMIDIDataByte();
    static TessaroBridgeWireError midiMessageTooLong(std::int64_t maximum, std::int64_t actual);
    static TessaroBridgeWireError invalidOSCAddress();
    static TessaroBridgeWireError oscAddressTooLong();
    static TessaroBridgeWireError frameTooLarge(std::uint64_t size);
    static TessaroBridgeWireError malformedFrame();
    static TessaroBridgeWireError agentPayloadTooLarge(std::int64_t maximum, std::int64_t actual);

    Code code() const noexcept { return code_; }
    // The associated values; 0 for a case that does not carry them.
    std::int64_t version() const noexcept { return version_; }
    std::int64_t expected() const noexcept { return expected_; }
    std::int64_t actual() const noexcept { return actual_; }
    std::int64_t maximum() const noexcept { return maximum_; }
    std::uint64_t size() const noexcept { return size_; }

    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    friend bool operator==(const TessaroBridgeWireError& a,
                           const TessaroBridgeWireError& b) noexcept {
        return a.code_ == b.code_ && a.version_ == b.version_ && a.expected_ == b.expected_ &&
               a.actual_ == b.actual_ && a.maximum_ == b.maximum_ && a.size_ == b.size_;
    }

private:
    explicit TessaroBridgeWireError(Code code) : code_(code) {}
    TessaroBridgeWireError& described();

    Code code_;
    std::int64_t version_ = 0;
    std::int64_t expected_ = 0;
    std::int64_t actual_ = 0;
    std::int64_t maximum_ = 0;
    std::uint64_t size_ = 0;
    std::string message_;
};

} // namespace varnello
