#pragma once

#include "ledger/CommandLedger.h"
#include "ledger/FaultInjectingFileSystem.h"
#include "ledger/LedgerFile.h"
#include "ledger/TombstoneFile.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <memory>

namespace varnello::testing {

// A ledger folder inside a temporary folder, reached through the fault-injecting file
// system. The filter is small unless a test asks for the standard one, so that saves
// stay quick.
class LedgerFixture : public ::testing::Test {
protected:
    struct Parameters {
        std::int64_t maximumEntries = 8;
        std::int64_t bitCount = 8192;
        std::int64_t hashCount = 7;
        std::int64_t maximumInsertions = 500;
    };

    std::filesystem::path ledgerFolder() const { return folder.path() / "data" / "TessaroBridge"; }
    std::filesystem::path ledgerFile() const { return ledgerFolder() / "command-ledger.json"; }
    std::filesystem::path tombstoneFile() const {
        return ledgerFolder() / "command-ledger.tombstones-v1.bin";
    }

    // Writes both files as a ledger with these entries would have left them; every
    // entry is also put into the filter.
    void writeFiles(const Uuid& ledgerID, const std::vector<CommandLedgerEntry>& entries,
                    TombstoneFilter filter) {
        for (const CommandLedgerEntry& entry : entries) {
            filter.insert(entry.id);
        }
        StoredLedgerPayload payload;
        payload.ledgerID = ledgerID;
        payload.entries = entries;
        payload.minimumTombstoneInsertionCount = filter.insertionCount();
        std::filesystem::create_directories(ledgerFolder());
        writeBytes(tombstoneFile(), encodeTombstones(ledgerID, filter));
        writeFile(ledgerFile(), encodeStoredLedger(payload, ledgerChecksum(payload)));
    }

    std::unique_ptr<CommandLedger> open(Parameters parameters) {
        return std::make_unique<CommandLedger>(ledgerFile(), fileSystem, parameters.maximumEntries,
                                               parameters.bitCount, parameters.hashCount,
                                               parameters.maximumInsertions);
    }
    std::unique_ptr<CommandLedger> open() { return open(Parameters{}); }

    TemporaryFolder folder;
    std::shared_ptr<FaultInjectingFileSystem> fileSystem =
        std::make_shared<FaultInjectingFileSystem>();
};

// Runs f and returns the CommandLedgerError it throws; fails the test when it throws
// nothing.
template <typename F> CommandLedgerError ledgerErrorOf(F&& f) {
    try {
        f();
    } catch (const CommandLedgerError& error) {
        return error;
    }
    ADD_FAILURE() << "no CommandLedgerError was thrown";
    return CommandLedgerError::unsupportedOrDamagedFormat();
}

} // namespace varnello::testing
