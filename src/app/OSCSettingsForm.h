#pragma once

#include "core/BridgePreferences.h"
#include "core/BridgePreferencesError.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnello {

// The two texts of the OSC settings dialog and what became of them. Main thread
// (it writes the preferences).
struct OSCSettingsForm {
    std::string hostText;
    std::string portText;

    static constexpr std::string_view messageText = "OSC Output";
    static constexpr std::string_view informativeText =
        "Varnello Bridge sends argument-free OSC messages to this destination over UDP by "
        "default.";
    static constexpr std::string_view hostLabel = "Host";
    static constexpr std::string_view portLabel = "UDP port";
    static constexpr std::string_view hostPlaceholder = "127.0.0.1";
    static constexpr std::string_view portPlaceholder = "9000";
    static constexpr std::string_view saveButton = "Save";
    static constexpr std::string_view cancelButton = "Cancel";
    static constexpr int fieldColumnWidth = 220;
    static constexpr int rowSpacing = 8;

    // The fields as the dialog opens: the configured host and port.
    static OSCSettingsForm filledFrom(const OSCForwardingConfiguration& configuration);

    // Stores what "Save" was pressed on: the host text and the number at the start of
    // the port text. Returns the preferences' refusal, in which case nothing was
    // stored; nothing when both were stored.
    std::optional<BridgePreferencesError> save(BridgePreferences& preferences) const;
};

// The number a text starts with, read the way a text field's integer value is:
// leading white space skipped, an optional sign, then decimal digits; 0 when
// there are none; clamped to the 64-bit range. Thread-safe.
std::int64_t leadingInteger(std::string_view text) noexcept;

} // namespace varnello
