#pragma once

#include "ledger/CommandLedgerEntry.h"
#include "ledger/CommandLedgerState.h"
#include "ledger/CommandReservation.h"
#include "ledger/LedgerFile.h"
#include "ledger/LedgerFileSystem.h"
#include "ledger/TombstoneFilter.h"
#include "support/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

namespace varnello {

// Makes command execution happen at most once across reconnections, crashes and
// restarts: every identifier is reserved durably before its payload runs, and its
// outcome is recorded afterwards. Recent reservations (with their states) live in the
// ledger file, every identifier ever reserved in the tombstone file beside it; the
// tombstone file is always written first, and memory changes only after a write
// succeeded.
//
// Not thread-safe: its single owner serialises every call (the bridge constructs it on
// the main thread and then calls it from the server queue only). It holds an exclusive
// lock on "<name>.lock" beside the ledger file for its whole life, so no second ledger,
// in this process or another, works on the same files.
class CommandLedger {
public:
    using Entry = CommandLedgerEntry;

    static constexpr std::int64_t standardMaximumEntries = 2048;
    static constexpr std::int64_t standardTombstoneBitCount = 8'388'608;
    static constexpr std::int64_t standardTombstoneHashCount = 7;
    static constexpr std::int64_t standardTombstoneMaximumInsertions = 250'000;

    // The standard ledger: <data home>/TessaroBridge/command-ledger.json with the
    // standard parameters.
    explicit CommandLedger(std::shared_ptr<LedgerFileSystem> fileSystem);

    // Loads, checks or migrates the files at fileURL and beside it. Throws
    // CommandLedgerError, CommandLedgerLockError when another ledger holds the files
    // (nothing is then read or written), std::system_error when a folder cannot be
    // created, synced or listed or the lock file cannot be opened, and
    // std::invalid_argument when the parameters are out of range (1 to 2048 entries,
    // filter parameters as TombstoneFilter requires). Writes no ledger file when none
    // exists; both appear at the first reservation.
    CommandLedger(std::filesystem::path fileURL, std::shared_ptr<LedgerFileSystem> fileSystem,
                  std::int64_t maximumEntries, std::int64_t tombstoneBitCount,
                  std::int64_t tombstoneHashCount, std::int64_t tombstoneMaximumInsertions);

    // Where the standard ledger's file lies, and the files beside any ledger file.
    static std::filesystem::path standardFile(LedgerFileSystem& fileSystem);
    static std::filesystem::path tombstoneFileFor(const std::filesystem::path& fileURL);
    static std::filesystem::path lockFileFor(const std::filesystem::path& fileURL);

    CommandLedger(const CommandLedger&) = delete;
    CommandLedger& operator=(const CommandLedger&) = delete;
    ~CommandLedger();

    // No state: the identifier is new and now stored as accepted; run its payload.
    // A state: seen before (accepted also when only the tombstones know it); never run
    // it again. Throws CommandLedgerError (saturated, storageUnavailable,
    // unsupportedOrDamagedFormat); then the payload must not run either.
    std::optional<CommandLedgerState> reserve(const Uuid& commandID);

    // Reserves several identifiers with one write of each file, answering each exactly
    // as reserve would have answered it had they come one after another (an identifier
    // repeated in the batch is accepted the second time). A failed write fails every
    // identifier that needed it; known ones are still answered. At most
    // maximumEntries() identifiers, so that none leaves the window before its outcome
    // is recorded (std::invalid_argument otherwise).
    std::vector<CommandReservation> reserveAll(std::span<const Uuid> commandIDs);

    // Stores the outcome of a reserved identifier. Throws CommandLedgerError
    // (unknownReservation, storageUnavailable); memory and files then keep the
    // previous state.
    void record(const Uuid& commandID, CommandLedgerState state);

    // Stores several outcomes with one write, all or none: throws as record does, and
    // unknownReservation when any identifier is not in the window.
    void recordAll(std::span<const Entry> outcomes);

    const std::filesystem::path& fileURL() const noexcept { return fileURL_; }
    const std::filesystem::path& tombstoneFileURL() const noexcept { return tombstoneFileURL_; }
    const std::filesystem::path& lockFileURL() const noexcept { return lockFileURL_; }
    std::int64_t maximumEntries() const noexcept { return maximumEntries_; }
    const Uuid& ledgerID() const noexcept { return ledgerID_; }
    const std::vector<Entry>& orderedEntries() const noexcept { return orderedEntries_; }
    const TombstoneFilter& tombstones() const noexcept { return tombstones_; }

private:
    void removeStaleTemporaryFiles();
    void loadLedger();
    void loadCurrent(StoredLedger stored);
    void requireNoTombstoneFile();
    void migrateLegacy(const std::vector<Entry>& entries);
    void rebuildStates();
    StoredLedgerPayload payloadWith(std::vector<Entry> entries) const;
    void saveLedger(const StoredLedgerPayload& payload);
    void saveTombstones(const TombstoneFilter& filter);

    std::filesystem::path fileURL_;
    std::filesystem::path tombstoneFileURL_;
    std::filesystem::path lockFileURL_;
    std::shared_ptr<LedgerFileSystem> fileManager_;
    std::int64_t maximumEntries_;
    Uuid ledgerID_;
    std::vector<Entry> orderedEntries_;
    std::unordered_map<Uuid, CommandLedgerState> statesByID_;
    TombstoneFilter tombstones_;
    // Storage that each reservation's copy of the filter and its file reuse.
    std::optional<TombstoneFilter> spareTombstones_;
    std::vector<std::uint8_t> tombstoneFileBytes_;
    std::unique_ptr<LedgerFileLock> lock_;
};

} // namespace varnello
