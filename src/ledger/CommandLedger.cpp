#include "ledger/CommandLedger.h"

#include "ledger/CommandLedgerError.h"
#include "ledger/CommandLedgerLockError.h"
#include "ledger/LedgerStorage.h"
#include "ledger/TombstoneFile.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace varnello {

namespace {

// A legacy file this long may already have dropped identifiers at its own limit.
constexpr std::size_t largestMigratableHistory = 2047;

std::filesystem::path standardFileURL(LedgerFileSystem* fileSystem) {
    if (fileSystem == nullptr) {
        throw std::invalid_argument("a command ledger needs a file system");
    }
    return fileSystem->dataHomeDirectory() / "TessaroBridge" / "command-ledger.json";
}

std::filesystem::path withExtension(std::filesystem::path path, const char* extension) {
    return path.replace_extension(extension);
}

std::int64_t checkedMaximumEntries(std::int64_t maximumEntries) {
    if (maximumEntries < 1 || maximumEntries > CommandLedger::standardMaximumEntries) {
        throw std::invalid_argument("command ledger entry limit out of range");
    }
    return maximumEntries;
}

[[noreturn]] void damaged() {
    throw CommandLedgerError::unsupportedOrDamagedFormat();
}

} // namespace

CommandLedger::CommandLedger(std::shared_ptr<LedgerFileSystem> fileSystem)
    : CommandLedger(standardFileURL(fileSystem.get()), fileSystem, standardMaximumEntries,
                    standardTombstoneBitCount, standardTombstoneHashCount,
                    standardTombstoneMaximumInsertions) {}

CommandLedger::CommandLedger(std::filesystem::path fileURL,
                             std::shared_ptr<LedgerFileSystem> fileSystem,
                             std::int64_t maximumEntries, std::int64_t tombstoneBitCount,
                             std::int64_t tombstoneHashCount,
                             std::int64_t tombstoneMaximumInsertions)
    : fileURL_(std::move(fileURL)), tombstoneFileURL_(tombstoneFileFor(fileURL_)),
      lockFileURL_(lockFileFor(fileURL_)), fileManager_(std::move(fileSystem)),
      maximumEntries_(checkedMaximumEntries(maximumEntries)), ledgerID_(Uuid::random()),
      tombstones_(tombstoneBitCount, tombstoneHashCount, tombstoneMaximumInsertions) {
    if (!fileManager_) {
        throw std::invalid_argument("a command ledger needs a file system");
    }
    ensureDirectory(*fileManager_, fileURL_.parent_path());
    // Taken before anything is read: another process's history must not be loaded,
    // nor its temporary files removed under it.
    lock_ = fileManager_->tryLockExclusive(lockFileURL_);
    if (!lock_) {
        throw CommandLedgerLockError::alreadyInUse();
    }
    removeStaleTemporaryFiles();
    loadLedger();
    rebuildStates();
}

CommandLedger::~CommandLedger() = default;

std::filesystem::path CommandLedger::standardFile(LedgerFileSystem& fileSystem) {
    return standardFileURL(&fileSystem);
}

std::filesystem::path CommandLedger::tombstoneFileFor(const std::filesystem::path& fileURL) {
    return withExtension(fileURL, ".tombstones-v1.bin");
}

std::filesystem::path CommandLedger::lockFileFor(const std::filesystem::path& fileURL) {
    return withExtension(fileURL, ".lock");
}

std::optional<CommandLedgerState> CommandLedger::reserve(const Uuid& commandID) {
    const CommandReservation answer = reserveAll(std::span(&commandID, 1)).front();
    if (answer.error) {
        throw *answer.error;
    }
    return answer.earlierState;
}

std::vector<CommandReservation> CommandLedger::reserveAll(std::span<const Uuid> commandIDs) {
    const std::size_t limit = static_cast<std::size_t>(maximumEntries_);
    if (commandIDs.size() > limit) {
        throw std::invalid_argument("more identifiers than the command ledger's window holds");
    }
    std::vector<CommandReservation> answers(commandIDs.size());
    // Positions of the new identifiers; once there is one, the spare filter holds
    // the tombstones with every new identifier so far.
    std::vector<std::size_t> fresh;
    for (std::size_t i = 0; i < commandIDs.size(); ++i) {
        const Uuid& commandID = commandIDs[i];
        if (const auto found = statesByID_.find(commandID); found != statesByID_.end()) {
            // The batch's new identifiers before this one push the oldest entries out,
            // as reserving them one at a time would have.
            const std::size_t pushedOut =
                std::max(orderedEntries_.size() + fresh.size(), limit) - limit;
            const bool leftTheWindow =
                std::any_of(orderedEntries_.begin(),
                            orderedEntries_.begin() + static_cast<std::ptrdiff_t>(pushedOut),
                            [&](const Entry& entry) { return entry.id == commandID; });
            answers[i].earlierState = leftTheWindow ? CommandLedgerState::accepted : found->second;
            continue;
        }
        const TombstoneFilter& known = fresh.empty() ? tombstones_ : *spareTombstones_;
        // Pushed out of the recent entries, earlier in this batch, or a false
        // positive: either way never run again.
        if (known.contains(commandID)) {
            answers[i].earlierState = CommandLedgerState::accepted;
            continue;
        }
        if (known.insertionCount() >= known.maximumInsertions()) {
            answers[i].error = CommandLedgerError::saturated();
            continue;
        }
        if (fresh.empty()) {
            if (spareTombstones_) {
                *spareTombstones_ = tombstones_; // copies into the storage it already has
            } else {
                spareTombstones_.emplace(tombstones_);
            }
        }
        spareTombstones_->insert(commandID);
        fresh.push_back(i);
    }
    if (fresh.empty()) {
        return answers;
    }
    const auto failFresh = [&](const CommandLedgerError& error) {
        for (const std::size_t i : fresh) {
            answers[i].error = error;
        }
    };

    try {
        saveTombstones(*spareTombstones_);
    } catch (const CommandLedgerError& error) {
        failFresh(error);
        return answers;
    }
    // From here on these identifiers are never new again, even when the ledger file
    // fails.
    std::swap(tombstones_, *spareTombstones_);

    const std::size_t kept = std::min(orderedEntries_.size(), limit - fresh.size());
    const std::size_t dropped = orderedEntries_.size() - kept;
    std::vector<Entry> entries;
    entries.reserve(kept + fresh.size());
    entries.insert(entries.end(), orderedEntries_.end() - static_cast<std::ptrdiff_t>(kept),
                   orderedEntries_.end());
    for (const std::size_t i : fresh) {
        entries.push_back(Entry{commandIDs[i], CommandLedgerState::accepted});
    }
    StoredLedgerPayload payload = payloadWith(std::move(entries));
    try {
        saveLedger(payload);
    } catch (const CommandLedgerError& error) {
        failFresh(error);
        return answers;
    }

    // The index follows the list; dropped entries' nodes are reused, so the steady
    // state allocates nothing after the files were written.
    std::size_t placed = 0;
    for (std::size_t d = 0; d < dropped; ++d) {
        auto node = statesByID_.extract(orderedEntries_[d].id);
        if (placed < fresh.size()) {
            node.key() = commandIDs[fresh[placed++]];
            node.mapped() = CommandLedgerState::accepted;
            statesByID_.insert(std::move(node));
        }
    }
    for (; placed < fresh.size(); ++placed) {
        statesByID_.emplace(commandIDs[fresh[placed]], CommandLedgerState::accepted);
    }
    orderedEntries_ = std::move(payload.entries);
    return answers;
}

void CommandLedger::record(const Uuid& commandID, CommandLedgerState state) {
    const Entry outcome{commandID, state};
    recordAll(std::span(&outcome, 1));
}

void CommandLedger::recordAll(std::span<const Entry> outcomes) {
    if (outcomes.empty()) {
        return;
    }
    std::vector<Entry> entries = orderedEntries_;
    for (const Entry& outcome : outcomes) {
        // Outcomes belong to the newest reservations: search from the back.
        const auto found = std::find_if(entries.rbegin(), entries.rend(),
                                        [&](const Entry& entry) { return entry.id == outcome.id; });
        if (found == entries.rend()) {
            throw CommandLedgerError::unknownReservation();
        }
        found->state = outcome.state;
    }
    StoredLedgerPayload payload = payloadWith(std::move(entries));
    saveLedger(payload);
    orderedEntries_ = std::move(payload.entries);
    for (const Entry& outcome : outcomes) {
        statesByID_.find(outcome.id)->second = outcome.state;
    }
}

void CommandLedger::removeStaleTemporaryFiles() {
    // Left by saves that a crash interrupted; nothing ever reads them.
    const std::filesystem::path folder = fileURL_.parent_path();
    const std::string ledgerName = fileURL_.filename().string();
    const std::string tombstoneName = tombstoneFileURL_.filename().string();
    for (const std::string& name : fileManager_->directoryEntries(folder)) {
        if (isTemporaryNameOf(name, ledgerName) || isTemporaryNameOf(name, tombstoneName)) {
            fileManager_->remove(folder / name);
        }
    }
}

void CommandLedger::loadLedger() {
    if (fileManager_->kind(fileURL_) == LedgerFileSystem::Kind::missing) {
        // A tombstone file alone means a first save was cut short, or a ledger file was
        // lost: either way the history is in doubt.
        if (fileManager_->kind(tombstoneFileURL_) != LedgerFileSystem::Kind::missing) {
            damaged();
        }
        return;
    }
    try {
        const std::vector<std::uint8_t> bytes = fileManager_->readFile(fileURL_);
        LedgerFileContent content = decodeLedgerFile(bytes, maximumEntries_);
        if (auto* current = std::get_if<StoredLedger>(&content)) {
            loadCurrent(std::move(*current));
            return;
        }
        requireNoTombstoneFile();
        std::vector<Entry> entries;
        if (const auto* legacy1 = std::get_if<StoredLedgerV1>(&content)) {
            if (legacy1->executedCommandIDs.size() > largestMigratableHistory) {
                throw CommandLedgerError::legacyHistoryMayBeIncomplete();
            }
            entries.reserve(legacy1->executedCommandIDs.size());
            for (const Uuid& identifier : legacy1->executedCommandIDs) {
                entries.push_back(Entry{identifier, CommandLedgerState::executed});
            }
        } else {
            entries = std::get<StoredLedgerV2>(std::move(content)).entries;
            if (entries.size() > largestMigratableHistory) {
                throw CommandLedgerError::legacyHistoryMayBeIncomplete();
            }
        }
        migrateLegacy(entries);
    } catch (const CommandLedgerError&) {
        throw;
    } catch (const std::exception&) {
        damaged();
    }
}

void CommandLedger::loadCurrent(StoredLedger stored) {
    if (fileManager_->kind(tombstoneFileURL_) == LedgerFileSystem::Kind::missing) {
        damaged();
    }
    StoredTombstones tombstones = decodeTombstones(fileManager_->readFile(tombstoneFileURL_));
    if (tombstones.ledgerID != stored.payload.ledgerID ||
        tombstones.filter.insertionCount() < stored.payload.minimumTombstoneInsertionCount) {
        damaged();
    }
    for (const Entry& entry : stored.payload.entries) {
        if (!tombstones.filter.contains(entry.id)) {
            damaged();
        }
    }
    ledgerID_ = stored.payload.ledgerID;
    orderedEntries_ = std::move(stored.payload.entries);
    tombstones_ = std::move(tombstones.filter);
}

void CommandLedger::requireNoTombstoneFile() {
    if (fileManager_->kind(tombstoneFileURL_) != LedgerFileSystem::Kind::missing) {
        damaged();
    }
}

void CommandLedger::migrateLegacy(const std::vector<Entry>& entries) {
    TombstoneFilter nextTombstones = tombstones_;
    for (const Entry& entry : entries) {
        nextTombstones.insert(entry.id);
    }
    saveTombstones(nextTombstones);
    tombstones_ = std::move(nextTombstones);
    StoredLedgerPayload payload = payloadWith(keepNewestDistinct(entries, maximumEntries_));
    saveLedger(payload);
    orderedEntries_ = std::move(payload.entries);
}

void CommandLedger::rebuildStates() {
    statesByID_.clear();
    statesByID_.reserve(static_cast<std::size_t>(maximumEntries_) + 1);
    for (const Entry& entry : orderedEntries_) {
        statesByID_.emplace(entry.id, entry.state);
    }
}

StoredLedgerPayload CommandLedger::payloadWith(std::vector<Entry> entries) const {
    StoredLedgerPayload payload;
    payload.ledgerID = ledgerID_;
    payload.entries = std::move(entries);
    payload.minimumTombstoneInsertionCount = tombstones_.insertionCount();
    return payload;
}

void CommandLedger::saveLedger(const StoredLedgerPayload& payload) {
    try {
        const std::string checksum = ledgerChecksum(payload);
        const std::string text = encodeStoredLedger(payload, checksum);
        writeAtomically(*fileManager_,
                        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                        fileURL_);
    } catch (const std::exception&) {
        throw CommandLedgerError::storageUnavailable();
    }
}

void CommandLedger::saveTombstones(const TombstoneFilter& filter) {
    try {
        encodeTombstones(ledgerID_, filter, tombstoneFileBytes_);
        writeAtomically(*fileManager_, tombstoneFileBytes_, tombstoneFileURL_);
    } catch (const CommandLedgerError&) {
        throw;
    } catch (const std::exception&) {
        throw CommandLedgerError::storageUnavailable();
    }
}

} // namespace varnello
