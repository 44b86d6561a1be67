#include "ledger/CommandLedgerError.h"
#include "ledger/LedgerFixture.h"

#include <functional>
#include <map>
#include <nlohmann/json.hpp>

namespace varnello::testing {
namespace {

using Step = FaultInjectingFileSystem::Step;
using State = CommandLedgerState;
using nlohmann::json;

class CommandLedgerLoadTest : public LedgerFixture {
protected:
    // Every file of the ledger folder but the lock file, with its content.
    std::map<std::string, std::vector<std::uint8_t>> snapshot() const {
        std::map<std::string, std::vector<std::uint8_t>> files;
        for (const std::string& name : namesIn(ledgerFolder())) {
            const auto path = ledgerFolder() / name;
            if (name != "command-ledger.lock" && std::filesystem::is_regular_file(path)) {
                files[name] = readBytes(path);
            }
        }
        return files;
    }

    void writeLegacy1(const std::vector<Uuid>& ids) {
        json list = json::array();
        for (const Uuid& id : ids) {
            list.push_back(id.text());
        }
        writeFile(ledgerFile(), json{{"formatVersion", 1}, {"executedCommandIDs", list}}.dump(2));
    }

    void writeLegacy2(const std::vector<CommandLedger::Entry>& legacyEntries) {
        json list = json::array();
        for (const auto& entry : legacyEntries) {
            list.push_back({{"id", entry.id.text()}, {"state", rawValue(entry.state)}});
        }
        writeFile(ledgerFile(), json{{"formatVersion", 2}, {"entries", list}}.dump(2));
    }

    StoredLedgerPayload storedPayload() const {
        return std::get<StoredLedger>(decodeLedgerFile(readBytes(ledgerFile()), 2048)).payload;
    }

    const Uuid ledgerID = Uuid::random();
    const std::vector<CommandLedger::Entry> entries = {{Uuid::random(), State::executed},
                                                       {Uuid::random(), State::accepted}};
};

TEST_F(CommandLedgerLoadTest, DoubtfulFilePairsAreRefusedAndLeftAsTheyAre) {
    const TombstoneFilter emptyFilter(8192, 7, 500);
    const struct {
        const char* what;
        std::function<void()> setup;
    } cases[] = {
        {"a tombstone file without a ledger file",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             std::filesystem::remove(ledgerFile());
         }},
        {"a ledger file without a tombstone file",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             std::filesystem::remove(tombstoneFile());
         }},
        {"a damaged tombstone file",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             auto bytes = readBytes(tombstoneFile());
             bytes[100] ^= 0x01;
             writeBytes(tombstoneFile(), bytes);
         }},
        {"a tombstone file of another ledger",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             TombstoneFilter filter = emptyFilter;
             for (const auto& entry : entries) {
                 filter.insert(entry.id);
             }
             writeBytes(tombstoneFile(), encodeTombstones(Uuid::random(), filter));
         }},
        {"fewer insertions than the ledger file requires",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             StoredLedgerPayload payload = storedPayload();
             payload.minimumTombstoneInsertionCount += 1;
             writeFile(ledgerFile(), encodeStoredLedger(payload, ledgerChecksum(payload)));
         }},
        {"an entry missing from the filter",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             StoredLedgerPayload payload = storedPayload();
             payload.entries.push_back({Uuid::random(), State::executed});
             writeFile(ledgerFile(), encodeStoredLedger(payload, ledgerChecksum(payload)));
         }},
        {"a value changed without its checksum",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             json document = json::parse(readFile(ledgerFile()));
             document["entries"][1]["state"] = "executed";
             writeFile(ledgerFile(), document.dump(2));
         }},
        {"a legacy 1 file beside a tombstone file",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             writeLegacy1({entries[0].id});
         }},
        {"a legacy 2 file beside a tombstone file",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             writeLegacy2(entries);
         }},
        {"a folder in place of the ledger file",
         [&] { std::filesystem::create_directories(ledgerFile()); }},
        {"a folder in place of the tombstone file",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             std::filesystem::remove(tombstoneFile());
             std::filesystem::create_directories(tombstoneFile());
         }},
        {"an unreadable ledger file",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             fileSystem->failAt(Step::readFile, 1, EACCES);
         }},
        {"an unreadable tombstone file",
         [&] {
             writeFiles(ledgerID, entries, emptyFilter);
             fileSystem->failAt(Step::readFile, 2, EIO);
         }},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(ledgerFolder());
        c.setup();
        const auto before = snapshot();
        EXPECT_EQ(ledgerErrorOf([&] { open(); }), CommandLedgerError::unsupportedOrDamagedFormat())
            << c.what;
        EXPECT_FALSE(fileSystem->faultPending()) << c.what;
        EXPECT_EQ(snapshot(), before) << c.what;
    }
}

TEST_F(CommandLedgerLoadTest, MoreInsertionsThanRequiredLoad) {
    // A crash between the two writes of a reservation leaves exactly this.
    TombstoneFilter filter(8192, 7, 500);
    const Uuid crashed = Uuid::random();
    filter.insert(crashed);
    writeFiles(ledgerID, entries, filter);
    StoredLedgerPayload payload = storedPayload();
    payload.minimumTombstoneInsertionCount -= 1;
    writeFile(ledgerFile(), encodeStoredLedger(payload, ledgerChecksum(payload)));

    auto ledger = open();
    EXPECT_EQ(ledger->ledgerID(), ledgerID);
    EXPECT_EQ(ledger->orderedEntries(), entries);
    EXPECT_EQ(ledger->reserve(crashed), State::accepted);
    EXPECT_EQ(ledger->reserve(entries[0].id), State::executed);
}

TEST_F(CommandLedgerLoadTest, ReindentedOrReorderedLedgerFileLoads) {
    {
        auto ledger = open();
        for (const auto& entry : entries) {
            ledger->reserve(entry.id);
        }
        ledger->record(entries[0].id, State::executed);
    }
    const json document = json::parse(readFile(ledgerFile()));
    std::string reordered = "{";
    for (auto item = document.crbegin(); item != document.crend(); ++item) {
        reordered += (reordered.size() > 1 ? ",\n\t" : "") + json(item.key()).dump() + " : " +
                     item.value().dump(3);
    }
    reordered += "}";
    for (const std::string& text : {document.dump(), document.dump(8, '\t'), reordered}) {
        writeFile(ledgerFile(), text);
        auto ledger = open();
        EXPECT_EQ(ledger->orderedEntries(), entries) << text;
    }
}

TEST_F(CommandLedgerLoadTest, Legacy1WithFewerThan2048IdentifiersMigrates) {
    std::vector<Uuid> ids;
    for (int i = 0; i < 2047; ++i) {
        ids.push_back(Uuid::random());
    }
    writeLegacy1(ids);
    auto ledger = open(Parameters{2048, 262'144, 7, 20'000});

    EXPECT_EQ(fileSystem->renamedTo(),
              (std::vector<std::filesystem::path>{tombstoneFile(), ledgerFile()}));
    const StoredLedgerPayload payload = storedPayload();
    ASSERT_EQ(payload.entries.size(), 2047U);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(payload.entries[i], (CommandLedger::Entry{ids[i], State::executed}));
    }
    EXPECT_EQ(payload.ledgerID, ledger->ledgerID());
    EXPECT_EQ(payload.minimumTombstoneInsertionCount, 2047);
    const StoredTombstones tombstones = decodeTombstones(readBytes(tombstoneFile()));
    EXPECT_EQ(tombstones.ledgerID, ledger->ledgerID());
    EXPECT_EQ(tombstones.filter.insertionCount(), 2047);
    EXPECT_EQ(ledger->reserve(ids.front()), State::executed);
    EXPECT_EQ(ledger->reserve(ids.back()), State::executed);

    ledger.reset();
    auto reopened = open(Parameters{2048, 262'144, 7, 20'000});
    EXPECT_EQ(reopened->orderedEntries().size(), 2047U);
}

TEST_F(CommandLedgerLoadTest, LegacyFilesOf2048IdentifiersAreRefused) {
    std::vector<Uuid> ids;
    std::vector<CommandLedger::Entry> legacyEntries;
    for (int i = 0; i < 2048; ++i) {
        ids.push_back(Uuid::random());
        legacyEntries.push_back({ids.back(), State::failed});
    }
    const std::function<void()> writers[] = {[&] { writeLegacy1(ids); },
                                             [&] { writeLegacy2(legacyEntries); }};
    for (const auto& write : writers) {
        std::filesystem::remove_all(ledgerFolder());
        write();
        const auto before = snapshot();
        const CommandLedgerError error = ledgerErrorOf([&] {
            open(Parameters{2048, 262'144, 7, 20'000});
        });
        EXPECT_EQ(error, CommandLedgerError::legacyHistoryMayBeIncomplete());
        EXPECT_EQ(error.message(), "The legacy command ledger reached its retention limit; "
                                   "earlier command IDs may be missing.");
        EXPECT_EQ(snapshot(), before);
    }
}

TEST_F(CommandLedgerLoadTest, Legacy2KeepsTheLaterStateOfARepeatedIdentifier) {
    const Uuid repeated = Uuid::random();
    const Uuid other = Uuid::random();
    writeLegacy2(
        {{repeated, State::accepted}, {other, State::failed}, {repeated, State::executed}});
    auto ledger = open();
    EXPECT_EQ(ledger->orderedEntries(), (std::vector<CommandLedger::Entry>{
                                            {other, State::failed}, {repeated, State::executed}}));
    EXPECT_EQ(ledger->tombstones().insertionCount(), 2);
    EXPECT_EQ(storedPayload().entries, ledger->orderedEntries());
    EXPECT_EQ(ledger->reserve(repeated), State::executed);
}

TEST_F(CommandLedgerLoadTest, LegacyHistoryLongerThanTheWindowStaysTombstoned) {
    std::vector<CommandLedger::Entry> legacyEntries;
    for (int i = 0; i < 5; ++i) {
        legacyEntries.push_back({Uuid::random(), State::executed});
    }
    writeLegacy2(legacyEntries);
    auto ledger = open(Parameters{3, 8192, 7, 500});
    EXPECT_EQ(ledger->orderedEntries(),
              std::vector<CommandLedger::Entry>(legacyEntries.begin() + 2, legacyEntries.end()));
    EXPECT_EQ(ledger->tombstones().insertionCount(), 5);
    EXPECT_EQ(ledger->reserve(legacyEntries[0].id), State::accepted);
    EXPECT_EQ(ledger->reserve(legacyEntries[4].id), State::executed);
}

TEST_F(CommandLedgerLoadTest, LegacyHistoryBeyondTheFilterCapacityIsRefused) {
    writeLegacy1({Uuid::random(), Uuid::random(), Uuid::random()});
    EXPECT_EQ(ledgerErrorOf([&] {
                  open(Parameters{8, 8192, 7, 2});
              }),
              CommandLedgerError::saturated());
    EXPECT_FALSE(std::filesystem::exists(tombstoneFile()));
}

TEST_F(CommandLedgerLoadTest, InterruptedMigrationIsRetriedOrNeedsAttention) {
    const std::vector<Uuid> ids = {Uuid::random(), Uuid::random()};
    writeLegacy1(ids);
    const auto legacy = snapshot();

    // The tombstone file never appeared: the next start migrates again.
    fileSystem->failAt(Step::syncFile, 1);
    EXPECT_EQ(ledgerErrorOf([&] { open(); }), CommandLedgerError::storageUnavailable());
    EXPECT_EQ(snapshot(), legacy);
    EXPECT_EQ(open()->reserve(ids[1]), State::executed);

    // The tombstone file appeared beside the legacy file: that needs the user's attention.
    std::filesystem::remove_all(ledgerFolder());
    writeLegacy1(ids);
    fileSystem->failAt(Step::rename, 2);
    EXPECT_EQ(ledgerErrorOf([&] { open(); }), CommandLedgerError::storageUnavailable());
    EXPECT_EQ(ledgerErrorOf([&] { open(); }), CommandLedgerError::unsupportedOrDamagedFormat());
}

TEST_F(CommandLedgerLoadTest, FolderProblemsDuringConstruction) {
    // A file where a folder of the chain should be.
    writeFile(folder.path() / "data" / "TessaroBridge", "x");
    EXPECT_EQ(ledgerErrorOf([&] { open(); }), CommandLedgerError::storageUnavailable());
    std::filesystem::remove(folder.path() / "data" / "TessaroBridge");

    const struct {
        Step step;
        int occurrence;
    } platformFailures[] = {
        {Step::createDirectory, 1},  {Step::syncDirectory, 1},    {Step::syncDirectory, 2},
        {Step::tryLockExclusive, 1}, {Step::directoryEntries, 1},
    };
    for (const auto& failure : platformFailures) {
        std::filesystem::remove_all(ledgerFolder());
        fileSystem->failAt(failure.step, failure.occurrence, EACCES);
        try {
            open();
            ADD_FAILURE() << stepName(failure.step) << " failure was ignored";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), std::error_code(EACCES, std::generic_category()))
                << stepName(failure.step);
        }
    }
}

TEST_F(CommandLedgerLoadTest, UncertainExistenceOfTheLedgerFileIsNoFreshStart) {
    writeFiles(ledgerID, entries, TombstoneFilter(8192, 7, 500));
    const auto before = snapshot();
    // The first look is at the folder, the second at the ledger file.
    fileSystem->failAt(Step::kind, 2, EIO);
    EXPECT_THROW(open(), std::system_error);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(open()->orderedEntries(), entries);
}

} // namespace
} // namespace varnello::testing
