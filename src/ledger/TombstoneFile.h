#pragma once

#include "ledger/TombstoneFilter.h"
#include "support/Uuid.h"

#include <cstdint>
#include <span>
#include <vector>

namespace varnello {

// The content of the tombstone file: the filter and the ledger it belongs to.
struct StoredTombstones {
    Uuid ledgerID;
    TombstoneFilter filter;

    friend bool operator==(const StoredTombstones&, const StoredTombstones&) = default;
};

// The tombstone file: "TSCLTB01", version 1, the ledger identifier's text, the
// filter's counts and bits, all big-endian, closed by a SHA-256 of everything before.
// Thread-safe (pure functions).
inline constexpr std::size_t tombstoneFileOverhead = 116;

// Throws CommandLedgerError::unsupportedOrDamagedFormat when the filter fails validate().
std::vector<std::uint8_t> encodeTombstones(const StoredTombstones& stored);
std::vector<std::uint8_t> encodeTombstones(const Uuid& ledgerID, const TombstoneFilter& filter);
// The same into a buffer that is kept between saves, so that a save neither allocates
// nor faults in a megabyte of fresh pages.
void encodeTombstones(const Uuid& ledgerID, const TombstoneFilter& filter,
                      std::vector<std::uint8_t>& out);

// Throws CommandLedgerError::unsupportedOrDamagedFormat for anything but an intact,
// exactly sized file of version 1.
StoredTombstones decodeTombstones(std::span<const std::uint8_t> bytes);

} // namespace varnello
