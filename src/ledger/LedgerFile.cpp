#include "ledger/LedgerFile.h"

#include "ledger/CommandLedgerError.h"
#include "support/HexString.h"
#include "support/Sha256.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_set>

namespace varnello {

namespace {

using nlohmann::json;

// The shape is fixed and its strings (identifier texts, state names) never need
// escaping, so both encodings are written straight into one buffer: a save pays for
// no document tree. Tests hold the output to nlohmann's own rendering.
constexpr std::size_t compactEntrySize = 70;
constexpr std::size_t indentedEntrySize = 90;

void appendNumber(std::string& out, std::int64_t value) {
    out += std::to_string(value);
}

std::string canonicalText(const StoredLedgerPayload& payload) {
    std::string out;
    out.reserve(200 + payload.entries.size() * compactEntrySize);
    out += R"({"entries":[)";
    bool first = true;
    for (const CommandLedgerEntry& entry : payload.entries) {
        if (!first) {
            out += ',';
        }
        first = false;
        out += R"({"id":")";
        out += entry.id.text();
        out += R"(","state":")";
        out += rawValue(entry.state);
        out += R"("})";
    }
    out += R"(],"ledgerID":")";
    out += payload.ledgerID.text();
    out += R"(","minimumTombstoneInsertionCount":)";
    appendNumber(out, payload.minimumTombstoneInsertionCount);
    out += R"(,"schemaVersion":)";
    appendNumber(out, payload.schemaVersion);
    out += R"(,"tombstoneFormatVersion":)";
    appendNumber(out, payload.tombstoneFormatVersion);
    out += '}';
    return out;
}

[[noreturn]] void damaged() {
    throw CommandLedgerError::unsupportedOrDamagedFormat();
}

// Refuses repeated keys, which a plain parse would silently collapse, and nesting far
// deeper than any ledger file has.
class StrictParse {
public:
    bool operator()(int depth, json::parse_event_t event, json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
            if (depth > maximumDepth) {
                damaged();
            }
            keys_.emplace_back();
            break;
        case json::parse_event_t::array_start:
            if (depth > maximumDepth) {
                damaged();
            }
            break;
        case json::parse_event_t::key:
            if (!keys_.back().insert(parsed.get<std::string>()).second) {
                damaged();
            }
            break;
        case json::parse_event_t::object_end:
            keys_.pop_back();
            break;
        default:
            break;
        }
        return true;
    }

private:
    static constexpr int maximumDepth = 16;
    std::vector<std::set<std::string>> keys_;
};

bool hasExactly(const json& object, std::initializer_list<std::string_view> keys) {
    if (object.size() != keys.size()) {
        return false;
    }
    return std::all_of(keys.begin(), keys.end(),
                       [&](std::string_view key) { return object.contains(key); });
}

std::int64_t integer(const json& value) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(INT64_MAX)) {
            damaged();
        }
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    damaged();
}

std::optional<std::int64_t> optionalInteger(const json& object, std::string_view key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        return std::nullopt;
    }
    return integer(*found);
}

const std::string& text(const json& value) {
    if (!value.is_string()) {
        damaged();
    }
    return value.get_ref<const std::string&>();
}

Uuid uuid(const json& value) {
    const std::optional<Uuid> parsed = Uuid::parse(text(value));
    if (!parsed) {
        damaged();
    }
    return *parsed;
}

std::vector<CommandLedgerEntry> entries(const json& value) {
    if (!value.is_array()) {
        damaged();
    }
    std::vector<CommandLedgerEntry> result;
    result.reserve(value.size());
    for (const json& item : value) {
        if (!item.is_object() || !hasExactly(item, {"id", "state"})) {
            damaged();
        }
        const std::optional<CommandLedgerState> state =
            commandLedgerStateFromRawValue(text(item.at("state")));
        if (!state) {
            damaged();
        }
        result.push_back(CommandLedgerEntry{uuid(item.at("id")), *state});
    }
    return result;
}

StoredLedger decodeCurrent(const json& object, std::int64_t maximumEntries) {
    if (!hasExactly(object, {"schemaVersion", "ledgerID", "entries", "tombstoneFormatVersion",
                             "minimumTombstoneInsertionCount", "checksum"})) {
        damaged();
    }
    StoredLedger stored;
    stored.payload.schemaVersion = integer(object.at("schemaVersion"));
    stored.payload.ledgerID = uuid(object.at("ledgerID"));
    stored.payload.entries = entries(object.at("entries"));
    stored.payload.tombstoneFormatVersion = integer(object.at("tombstoneFormatVersion"));
    stored.payload.minimumTombstoneInsertionCount =
        integer(object.at("minimumTombstoneInsertionCount"));
    stored.checksum = text(object.at("checksum"));

    if (static_cast<std::int64_t>(stored.payload.entries.size()) > maximumEntries ||
        stored.payload.tombstoneFormatVersion != 1 ||
        stored.payload.minimumTombstoneInsertionCount < 0) {
        damaged();
    }
    if (ledgerChecksum(stored.payload) != stored.checksum) {
        damaged();
    }
    std::unordered_set<Uuid> seen;
    for (const CommandLedgerEntry& entry : stored.payload.entries) {
        if (!seen.insert(entry.id).second) {
            damaged();
        }
    }
    return stored;
}

StoredLedgerV1 decodeLegacy1(const json& object) {
    if (!hasExactly(object, {"formatVersion", "executedCommandIDs"})) {
        damaged();
    }
    const json& identifiers = object.at("executedCommandIDs");
    if (!identifiers.is_array()) {
        damaged();
    }
    StoredLedgerV1 stored;
    stored.executedCommandIDs.reserve(identifiers.size());
    for (const json& identifier : identifiers) {
        stored.executedCommandIDs.push_back(uuid(identifier));
    }
    return stored;
}

StoredLedgerV2 decodeLegacy2(const json& object) {
    if (!hasExactly(object, {"formatVersion", "entries"})) {
        damaged();
    }
    return StoredLedgerV2{entries(object.at("entries"))};
}

LedgerFileContent decodeObject(const json& object, std::int64_t maximumEntries) {
    if (!object.is_object()) {
        damaged();
    }
    const std::optional<std::int64_t> schemaVersion = optionalInteger(object, "schemaVersion");
    const std::optional<std::int64_t> formatVersion = optionalInteger(object, "formatVersion");
    if (schemaVersion) {
        if (*schemaVersion != 3 || formatVersion) {
            damaged();
        }
        return decodeCurrent(object, maximumEntries);
    }
    if (formatVersion == 1) {
        return decodeLegacy1(object);
    }
    if (formatVersion == 2) {
        return decodeLegacy2(object);
    }
    damaged();
}

} // namespace

std::string canonicalLedgerPayloadText(const StoredLedgerPayload& payload) {
    return canonicalText(payload);
}

std::string ledgerChecksum(const StoredLedgerPayload& payload) {
    return hexString(sha256(canonicalText(payload)));
}

std::string encodeStoredLedger(const StoredLedger& stored) {
    return encodeStoredLedger(stored.payload, stored.checksum);
}

std::string encodeStoredLedger(const StoredLedgerPayload& payload, std::string_view checksum) {
    std::string out;
    out.reserve(300 + payload.entries.size() * indentedEntrySize);
    out += "{\n  \"checksum\": \"";
    out += checksum;
    out += "\",\n  \"entries\": [";
    bool first = true;
    for (const CommandLedgerEntry& entry : payload.entries) {
        out += first ? "\n" : ",\n";
        first = false;
        out += "    {\n      \"id\": \"";
        out += entry.id.text();
        out += "\",\n      \"state\": \"";
        out += rawValue(entry.state);
        out += "\"\n    }";
    }
    if (!payload.entries.empty()) {
        out += "\n  ";
    }
    out += "],\n  \"ledgerID\": \"";
    out += payload.ledgerID.text();
    out += "\",\n  \"minimumTombstoneInsertionCount\": ";
    appendNumber(out, payload.minimumTombstoneInsertionCount);
    out += ",\n  \"schemaVersion\": ";
    appendNumber(out, payload.schemaVersion);
    out += ",\n  \"tombstoneFormatVersion\": ";
    appendNumber(out, payload.tombstoneFormatVersion);
    out += "\n}\n";
    return out;
}

LedgerFileContent decodeLedgerFile(std::span<const std::uint8_t> bytes,
                                   std::int64_t maximumEntries) {
    try {
        const json object = json::parse(bytes.begin(), bytes.end(), StrictParse());
        return decodeObject(object, maximumEntries);
    } catch (const CommandLedgerError&) {
        throw;
    } catch (const std::exception&) {
        damaged();
    }
}

std::vector<CommandLedgerEntry> keepNewestDistinct(std::span<const CommandLedgerEntry> entries,
                                                   std::int64_t limit) {
    std::vector<CommandLedgerEntry> taken;
    std::unordered_set<Uuid> seen;
    for (auto entry = entries.rbegin();
         entry != entries.rend() && static_cast<std::int64_t>(taken.size()) < limit; ++entry) {
        if (seen.insert(entry->id).second) {
            taken.push_back(*entry);
        }
    }
    std::reverse(taken.begin(), taken.end());
    return taken;
}

} // namespace varnello
