#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace varnello {

enum class PreferenceType { boolean, integer, text };

using PreferenceValue = std::variant<bool, std::int64_t, std::string>;

struct PreferenceKey {
    std::string_view name;
    PreferenceType type;
};

// A per-user key-value store that keeps booleans, integers and texts across
// launches. Thread-safe: read from any thread while the main thread writes.
class PreferenceStore {
public:
    virtual ~PreferenceStore() = default;

    // The values of the keys, in order, taken at one moment; nullopt for a key that
    // is absent or whose stored value has no reading as the asked type.
    virtual std::vector<std::optional<PreferenceValue>>
    read(std::span<const PreferenceKey> keys) const = 0;

    // The key's stored value as compact JSON text, whatever its type; nullopt when
    // the key is absent. For a setting that must never quietly fall back to its
    // default when it holds something unusable.
    virtual std::optional<std::string> storedJson(std::string_view key) const = 0;

    // Stores all values at once, or none: throws BridgePreferencesError::saveFailed.
    virtual void write(std::span<const std::pair<std::string_view, PreferenceValue>> values) = 0;
};

} // namespace varnello
