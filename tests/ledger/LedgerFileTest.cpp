#include "ledger/LedgerFile.h"

#include "ledger/CommandLedgerError.h"

#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace varnello {
namespace {

using nlohmann::json;

Uuid uuidOf(const char* text) {
    return *Uuid::parse(text);
}

StoredLedgerPayload samplePayload() {
    StoredLedgerPayload payload;
    payload.ledgerID = uuidOf("6F9619FF-8B86-D011-B42D-00C04FC964FF");
    payload.entries = {
        {uuidOf("11111111-2222-4333-8444-555555555555"), CommandLedgerState::executed},
        {uuidOf("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"), CommandLedgerState::accepted},
        {uuidOf("01234567-89AB-4CDE-8F01-23456789ABCD"), CommandLedgerState::failed},
    };
    payload.minimumTombstoneInsertionCount = 42;
    return payload;
}

StoredLedger sampleLedger() {
    StoredLedgerPayload payload = samplePayload();
    std::string checksum = ledgerChecksum(payload);
    return StoredLedger{std::move(payload), std::move(checksum)};
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

json sampleJson() {
    return json::parse(encodeStoredLedger(sampleLedger()));
}

void expectDamaged(const std::string& text, const std::string& what,
                   std::int64_t maximumEntries = 2048) {
    try {
        decodeLedgerFile(bytesOf(text), maximumEntries);
        ADD_FAILURE() << what << ": accepted";
    } catch (const CommandLedgerError& error) {
        EXPECT_EQ(error, CommandLedgerError::unsupportedOrDamagedFormat()) << what;
    }
}

TEST(LedgerFileTest, ChecksumOfTheEmptyNilLedgerMatchesTheWorkedExample) {
    const StoredLedgerPayload payload; // nil ledger identifier, no entries, minimum 0
    const std::string text = canonicalLedgerPayloadText(payload);
    EXPECT_EQ(text.size(), 144U);
    EXPECT_TRUE(text.starts_with(R"({"entries":[],)")) << text;
    EXPECT_TRUE(text.ends_with(R"("tombstoneFormatVersion":1})")) << text;
    EXPECT_EQ(ledgerChecksum(payload),
              "bc355dcc24f8aba8392b0259f904e547d9001b3cb3bc8beded33b60df7b70f84");
}

TEST(LedgerFileTest, CanonicalTextIsCompactSortedJson) {
    const StoredLedgerPayload payload = samplePayload();
    const json document = {
        {"schemaVersion", 3},
        {"ledgerID", "6F9619FF-8B86-D011-B42D-00C04FC964FF"},
        {"entries",
         json::array({{{"id", "11111111-2222-4333-8444-555555555555"}, {"state", "executed"}},
                      {{"id", "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"}, {"state", "accepted"}},
                      {{"id", "01234567-89AB-4CDE-8F01-23456789ABCD"}, {"state", "failed"}}})},
        {"tombstoneFormatVersion", 1},
        {"minimumTombstoneInsertionCount", 42},
    };
    EXPECT_EQ(canonicalLedgerPayloadText(payload), document.dump());
}

TEST(LedgerFileTest, FileIsIndentedSortedJsonWithTheChecksum) {
    for (StoredLedgerPayload payload : {StoredLedgerPayload{}, samplePayload()}) {
        const StoredLedger stored{payload, ledgerChecksum(payload)};
        const std::string text = encodeStoredLedger(stored);
        json document = json::parse(canonicalLedgerPayloadText(payload));
        document["checksum"] = stored.checksum;
        EXPECT_EQ(text, document.dump(2) + "\n");
    }
}

TEST(LedgerFileTest, DecodesWhatItEncodes) {
    const StoredLedger stored = sampleLedger();
    EXPECT_EQ(decodeLedgerFile(bytesOf(encodeStoredLedger(stored)), 2048),
              LedgerFileContent(stored));
}

TEST(LedgerFileTest, ReindentedOrReorderedFileStillDecodes) {
    const StoredLedger stored = sampleLedger();
    json document = sampleJson();
    std::string reversed = "{";
    bool first = true;
    std::vector<std::string> keys;
    for (const auto& item : document.items()) {
        keys.push_back(item.key());
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        reversed += first ? "" : " ,\r\n\t";
        first = false;
        reversed += json(*key).dump() + "   :" + document[*key].dump(7);
    }
    reversed += "}";
    for (const std::string& text : {document.dump(), document.dump(1, '\t'), reversed}) {
        EXPECT_EQ(decodeLedgerFile(bytesOf(text), 2048), LedgerFileContent(stored)) << text;
    }
}

TEST(LedgerFileTest, DecodesBothLegacyFormats) {
    const std::string legacy1 = R"({"executedCommandIDs": ["11111111-2222-4333-8444-555555555555",
        "aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee"], "formatVersion": 1})";
    EXPECT_EQ(decodeLedgerFile(bytesOf(legacy1), 2048),
              LedgerFileContent(StoredLedgerV1{{uuidOf("11111111-2222-4333-8444-555555555555"),
                                                uuidOf("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE")}}));
    const std::string legacy2 = R"({"formatVersion": 2, "entries": [
        {"id": "11111111-2222-4333-8444-555555555555", "state": "failed"},
        {"state": "accepted", "id": "11111111-2222-4333-8444-555555555555"}]})";
    EXPECT_EQ(
        decodeLedgerFile(bytesOf(legacy2), 2048),
        LedgerFileContent(StoredLedgerV2{
            {{uuidOf("11111111-2222-4333-8444-555555555555"), CommandLedgerState::failed},
             {uuidOf("11111111-2222-4333-8444-555555555555"), CommandLedgerState::accepted}}}));
}

TEST(LedgerFileTest, DamagedFilesAreRefused) {
    // Each change leaves the checksum as it was unless the case says otherwise.
    const struct {
        const char* what;
        std::function<void(json&)> change;
    } cases[] = {
        {"an extra top-level key", [](json& d) { d["extra"] = 1; }},
        {"a missing key", [](json& d) { d.erase("minimumTombstoneInsertionCount"); }},
        {"both version keys", [](json& d) { d["formatVersion"] = 2; }},
        {"schema version 2", [](json& d) { d["schemaVersion"] = 2; }},
        {"schema version 4", [](json& d) { d["schemaVersion"] = 4; }},
        {"schema version as text", [](json& d) { d["schemaVersion"] = "3"; }},
        {"schema version as a fraction", [](json& d) { d["schemaVersion"] = 3.0; }},
        {"schema version null", [](json& d) { d["schemaVersion"] = nullptr; }},
        {"no version key at all", [](json& d) { d.erase("schemaVersion"); }},
        {"tombstone format 2", [](json& d) { d["tombstoneFormatVersion"] = 2; }},
        {"negative minimum count", [](json& d) { d["minimumTombstoneInsertionCount"] = -1; }},
        {"minimum count beyond 64 bits",
         [](json& d) { d["minimumTombstoneInsertionCount"] = ~std::uint64_t{0}; }},
        {"minimum count changed", [](json& d) { d["minimumTombstoneInsertionCount"] = 41; }},
        {"an entry's state changed", [](json& d) { d["entries"][0]["state"] = "failed"; }},
        {"an entry dropped", [](json& d) { d["entries"].erase(1); }},
        {"entries reordered", [](json& d) { std::swap(d["entries"][0], d["entries"][1]); }},
        {"ledger identifier changed",
         [](json& d) { d["ledgerID"] = "6F9619FF-8B86-D011-B42D-00C04FC964FE"; }},
        {"checksum in upper case",
         [](json& d) {
             std::string checksum = d["checksum"];
             for (char& c : checksum) {
                 c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
             }
             d["checksum"] = checksum;
         }},
        {"checksum as a number", [](json& d) { d["checksum"] = 7; }},
        {"an unknown state", [](json& d) { d["entries"][0]["state"] = "Executed"; }},
        {"an invalid identifier", [](json& d) { d["entries"][0]["id"] = "not-a-uuid"; }},
        {"an invalid ledger identifier", [](json& d) { d["ledgerID"] = 12; }},
        {"an entry with an extra key", [](json& d) { d["entries"][0]["note"] = "x"; }},
        {"an entry without its state", [](json& d) { d["entries"][0].erase("state"); }},
        {"an entry that is no object", [](json& d) { d["entries"][0] = "x"; }},
        {"entries not an array", [](json& d) { d["entries"] = json::object(); }},
    };
    for (const auto& c : cases) {
        json document = sampleJson();
        c.change(document);
        expectDamaged(document.dump(2), c.what);
    }
}

TEST(LedgerFileTest, FaultsThatSurviveARecomputedChecksumAreRefused) {
    const struct {
        const char* what;
        std::function<void(StoredLedgerPayload&)> change;
        std::int64_t maximumEntries;
    } cases[] = {
        {"a repeated identifier",
         [](StoredLedgerPayload& p) { p.entries.push_back(p.entries.front()); }, 2048},
        {"more entries than the ledger holds", [](StoredLedgerPayload&) {}, 2},
        {"tombstone format 2", [](StoredLedgerPayload& p) { p.tombstoneFormatVersion = 2; }, 2048},
        {"negative minimum count",
         [](StoredLedgerPayload& p) { p.minimumTombstoneInsertionCount = -5; }, 2048},
    };
    for (const auto& c : cases) {
        StoredLedgerPayload payload = samplePayload();
        c.change(payload);
        const StoredLedger stored{payload, ledgerChecksum(payload)};
        expectDamaged(encodeStoredLedger(stored), c.what, c.maximumEntries);
    }
    const StoredLedger full = sampleLedger();
    EXPECT_NO_THROW(decodeLedgerFile(bytesOf(encodeStoredLedger(full)), 3));
}

TEST(LedgerFileTest, TextsThatAreNoLedgerAreRefused) {
    const std::string valid = encodeStoredLedger(sampleLedger());
    std::string repeatedKey = valid;
    repeatedKey.replace(repeatedKey.find("{\n") + 2, 0, "  \"schemaVersion\": 3,\n");
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"not JSON", "ledger"},
        {"truncated", valid.substr(0, valid.size() / 2)},
        {"trailing garbage", valid + "x"},
        {"an array", "[]"},
        {"a string", R"("schemaVersion")"},
        {"an empty object", "{}"},
        {"a repeated key", repeatedKey},
        {"invalid UTF-8", R"({"formatVersion": 2, "entries": [], "x": ")"
                          "\xff"
                          R"("})"},
        {"deep nesting", std::string(10000, '[') + std::string(10000, ']')},
        {"legacy 1 with an extra key",
         R"({"formatVersion": 1, "executedCommandIDs": [], "entries": []})"},
        {"legacy 1 without its list", R"({"formatVersion": 1})"},
        {"legacy 1 with an invalid identifier",
         R"({"formatVersion": 1, "executedCommandIDs": ["11111111"]})"},
        {"legacy 1 with a list of numbers", R"({"formatVersion": 1, "executedCommandIDs": [1]})"},
        {"legacy 2 with the legacy 1 list", R"({"formatVersion": 2, "executedCommandIDs": []})"},
        {"legacy 2 with an unknown state",
         R"({"formatVersion": 2, "entries": [{"id": "11111111-2222-4333-8444-555555555555", "state": "done"}]})"},
        {"format version 3", R"({"formatVersion": 3, "entries": []})"},
        {"format version 0", R"({"formatVersion": 0, "entries": []})"},
        {"format version as text", R"({"formatVersion": "2", "entries": []})"},
    };
    for (const auto& c : cases) {
        expectDamaged(c.text, c.what);
    }
}

TEST(LedgerFileTest, KeepNewestDistinctKeepsTheLatestOccurrences) {
    const Uuid a = uuidOf("AAAAAAAA-0000-4000-8000-000000000000");
    const Uuid b = uuidOf("BBBBBBBB-0000-4000-8000-000000000000");
    const Uuid c = uuidOf("CCCCCCCC-0000-4000-8000-000000000000");
    using S = CommandLedgerState;
    const struct {
        std::vector<CommandLedgerEntry> input;
        std::int64_t limit;
        std::vector<CommandLedgerEntry> expected;
    } cases[] = {
        {{}, 5, {}},
        {{{a, S::executed}, {b, S::failed}}, 5, {{a, S::executed}, {b, S::failed}}},
        {{{a, S::executed}, {b, S::failed}, {a, S::failed}}, 5, {{b, S::failed}, {a, S::failed}}},
        {{{a, S::executed}, {b, S::failed}, {c, S::accepted}},
         2,
         {{b, S::failed}, {c, S::accepted}}},
        {{{a, S::executed}, {b, S::failed}, {c, S::accepted}, {b, S::executed}},
         2,
         {{c, S::accepted}, {b, S::executed}}},
        {{{a, S::executed}, {a, S::failed}, {a, S::accepted}}, 1, {{a, S::accepted}}},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(keepNewestDistinct(item.input, item.limit), item.expected);
    }
}

} // namespace
} // namespace varnello
