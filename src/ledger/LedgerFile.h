#pragma once

#include "ledger/CommandLedgerEntry.h"
#include "support/Uuid.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace varnello {

// What the ledger file's checksum covers.
struct StoredLedgerPayload {
    std::int64_t schemaVersion = 3;
    Uuid ledgerID;
    std::vector<CommandLedgerEntry> entries;
    std::int64_t tombstoneFormatVersion = 1;
    std::int64_t minimumTombstoneInsertionCount = 0;

    friend bool operator==(const StoredLedgerPayload&, const StoredLedgerPayload&) = default;
};

// The ledger file in its current format (schema 3): the payload and its checksum.
struct StoredLedger {
    StoredLedgerPayload payload;
    std::string checksum;

    friend bool operator==(const StoredLedger&, const StoredLedger&) = default;
};

// Older ledger files, read only to migrate them.
struct StoredLedgerV1 {
    std::vector<Uuid> executedCommandIDs;

    friend bool operator==(const StoredLedgerV1&, const StoredLedgerV1&) = default;
};

struct StoredLedgerV2 {
    std::vector<CommandLedgerEntry> entries;

    friend bool operator==(const StoredLedgerV2&, const StoredLedgerV2&) = default;
};

using LedgerFileContent = std::variant<StoredLedger, StoredLedgerV1, StoredLedgerV2>;

// The JSON text that the checksum is taken over: compact, keys in ascending byte
// order, entries in list order. Thread-safe (pure functions, as all below).
std::string canonicalLedgerPayloadText(const StoredLedgerPayload& payload);

// SHA-256 of the canonical text, as 64 lower-case hexadecimal digits.
std::string ledgerChecksum(const StoredLedgerPayload& payload);

// The ledger file's bytes: indented JSON, one member per line, keys sorted.
std::string encodeStoredLedger(const StoredLedgerPayload& payload, std::string_view checksum);
std::string encodeStoredLedger(const StoredLedger& stored);

// Reads a ledger file of any known format and checks everything that the file alone
// can show: for the current format the key set, the value types, at most
// maximumEntries entries, tombstone format 1, a non-negative minimum count, the
// checksum and distinct identifiers; for the legacy formats the key set and the value
// types. Throws CommandLedgerError::unsupportedOrDamagedFormat otherwise.
LedgerFileContent decodeLedgerFile(std::span<const std::uint8_t> bytes,
                                   std::int64_t maximumEntries);

// The newest occurrence of each identifier, at most limit of them, oldest first.
std::vector<CommandLedgerEntry> keepNewestDistinct(std::span<const CommandLedgerEntry> entries,
                                                   std::int64_t limit);

} // namespace varnello
