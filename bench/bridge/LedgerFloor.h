#pragma once

#include <filesystem>
#include <vector>

namespace varnello::bench {

// One sample of the floor, each save's wall time in milliseconds.
struct LedgerFloorSample {
    double tombstoneSave = 0;
    double reserveLedgerSave = 0;
    double recordLedgerSave = 0;

    double total() const noexcept { return tombstoneSave + reserveLedgerSave + recordLedgerSave; }
};

// The least the ledger's storage can cost one command: the saves it makes, each a
// write, fsync, rename and folder fsync (the ledger's own writeAtomically) of the
// bytes of the ledger's files as they are now: the tombstone file and the ledger
// file when a command is reserved, the ledger file again when its outcome is
// recorded. Written under other names beside them, removed afterwards; the
// ledger's files are only read. Throws BridgeLoadError(ledgerFiles) when the files
// are missing.
std::vector<LedgerFloorSample> measureLedgerFloor(const std::filesystem::path& ledgerFile,
                                                  const std::filesystem::path& tombstoneFile,
                                                  int samples);

} // namespace varnello::bench
