#pragma once

#include "protocol/TessaroBridgeJson.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace varnello {

// What a command asks for: MIDI bytes for the virtual MIDI source, or an OSC
// address. Building one checks nothing; encoding checks the content and a
// decoded payload always passes the checks. A plain value. Thread-safe.
class TessaroBridgePayload {
public:
    enum class PayloadType { midi, osc };

    static TessaroBridgePayload midi(std::vector<std::uint8_t> bytes);
    static TessaroBridgePayload osc(std::string address);

    PayloadType type() const noexcept {
        return std::holds_alternative<MIDIBytes>(content_) ? PayloadType::midi : PayloadType::osc;
    }
    // The bytes of a MIDI payload; nullptr for an OSC payload.
    const std::vector<std::uint8_t>* midiBytes() const noexcept {
        return std::get_if<MIDIBytes>(&content_);
    }
    // The address of an OSC payload; nullptr for a MIDI payload.
    const std::string* oscAddress() const noexcept { return std::get_if<std::string>(&content_); }

    // Throws the TessaroBridgeWireError of validateMIDIBytes or validateOSCAddress.
    TessaroBridgeJson toJson() const;
    // Throws TessaroBridgeDecodingFailure or TessaroBridgeWireError.
    static TessaroBridgePayload fromJson(const TessaroBridgeJson& json);

    friend bool operator==(const TessaroBridgePayload&, const TessaroBridgePayload&) = default;

private:
    using MIDIBytes = std::vector<std::uint8_t>;
    explicit TessaroBridgePayload(std::variant<MIDIBytes, std::string> content)
        : content_(std::move(content)) {}

    std::variant<MIDIBytes, std::string> content_;
};

std::string_view wireValue(TessaroBridgePayload::PayloadType value) noexcept;
template <typename Enumeration>
std::optional<Enumeration> fromWireValue(std::string_view text) noexcept;
template <>
std::optional<TessaroBridgePayload::PayloadType> fromWireValue(std::string_view text) noexcept;

} // namespace varnello
