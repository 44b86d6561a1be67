#pragma once

#include "ledger/LedgerFile.h"
#include "ledger/PosixLedgerFileSystem.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace varnello::bench {

// One floor sample, wall times in milliseconds from the same start.
struct LedgerFloorSample {
    // What reserving a batch cannot do without: the tombstone file's SHA-256 and save,
    // then the ledger file's checksum, encoding and save.
    double reservation = 0;
    // The reservation plus the record's checksum, encoding and save of the ledger file.
    double acknowledgement = 0;
    // This thread's CPU time, user and kernel, in all of the acknowledgement's work.
    double acknowledgementCpu = 0;
};

// The least the ledger's stored format lets a batch cost, measured in this process
// with the ledger's own writeAtomically and checksum functions on the bytes the
// bridge's ledger files hold when refresh() last read them. Written under other
// names beside them and removed on destruction; the ledger's files are only read.
// Called from the report's thread only.
class LedgerFloor {
public:
    // The tombstone file is the one beside the ledger file.
    explicit LedgerFloor(std::filesystem::path ledgerFile);
    ~LedgerFloor();

    LedgerFloor(const LedgerFloor&) = delete;
    LedgerFloor& operator=(const LedgerFloor&) = delete;

    // Reads the ledger's files as they are now. Throws BridgeLoadError(ledgerFiles).
    void refresh();
    LedgerFloorSample sample();

    std::size_t ledgerBytes() const noexcept { return ledgerBytes_; }
    std::size_t tombstoneBytes() const noexcept { return tombstoneBytes_.size(); }
    std::size_t entries() const noexcept { return payload_.entries.size(); }

private:
    std::filesystem::path ledgerFile_;
    std::filesystem::path tombstoneFile_;
    std::filesystem::path ledgerProbe_;
    std::filesystem::path tombstoneProbe_;
    PosixLedgerFileSystem fileSystem_;
    StoredLedgerPayload payload_;
    std::size_t ledgerBytes_ = 0;
    std::vector<std::uint8_t> tombstoneBytes_;
};

} // namespace varnello::bench
