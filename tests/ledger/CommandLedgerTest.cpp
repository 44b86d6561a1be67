#include "ledger/CommandLedgerError.h"
#include "ledger/CommandLedgerLockError.h"
#include "ledger/LedgerFile.h"
#include "ledger/LedgerFixture.h"
#include "ledger/PosixLedgerFileSystem.h"
#include "ledger/TombstoneFile.h"

#include <algorithm>
#include <stdlib.h>

namespace varnello::testing {
namespace {

using Step = FaultInjectingFileSystem::Step;
using State = CommandLedgerState;

class CommandLedgerTest : public LedgerFixture {};

bool wrote(const FaultInjectingFileSystem& fileSystem) {
    const auto& calls = fileSystem.calls();
    return std::any_of(calls.begin(), calls.end(), [](Step step) {
        return step == Step::createEmptyFile || step == Step::rename ||
               step == Step::createDirectory || step == Step::remove;
    });
}

TEST_F(CommandLedgerTest, FreshFolderGetsItsFolderChainAndNoLedgerFile) {
    auto ledger = open();
    EXPECT_EQ(namesIn(ledgerFolder()), (std::set<std::string>{"command-ledger.lock"}));
    EXPECT_TRUE(ledger->orderedEntries().empty());
    EXPECT_EQ(ledger->tombstones().insertionCount(), 0);
    EXPECT_EQ(ledger->tombstoneFileURL(), tombstoneFile());
}

TEST_F(CommandLedgerTest, FirstReservationWritesTheTombstoneFileThenTheLedgerFile) {
    auto ledger = open();
    const Uuid id = Uuid::random();
    EXPECT_EQ(ledger->reserve(id), std::nullopt);

    EXPECT_EQ(fileSystem->renamedTo(),
              (std::vector<std::filesystem::path>{tombstoneFile(), ledgerFile()}));
    const StoredTombstones tombstones = decodeTombstones(readBytes(tombstoneFile()));
    const auto stored = std::get<StoredLedger>(decodeLedgerFile(readBytes(ledgerFile()), 8));
    EXPECT_EQ(tombstones.ledgerID, ledger->ledgerID());
    EXPECT_EQ(stored.payload.ledgerID, ledger->ledgerID());
    EXPECT_EQ(stored.payload.entries, (std::vector<CommandLedger::Entry>{{id, State::accepted}}));
    EXPECT_EQ(stored.payload.minimumTombstoneInsertionCount, 1);
    EXPECT_TRUE(tombstones.filter.contains(id));
    EXPECT_EQ(tombstones.filter, ledger->tombstones());
}

TEST_F(CommandLedgerTest, KnownIdentifiersAreAnsweredWithoutWriting) {
    auto ledger = open();
    const Uuid executed = Uuid::random();
    const Uuid failed = Uuid::random();
    const Uuid pending = Uuid::random();
    for (const Uuid& id : {executed, failed, pending}) {
        ASSERT_EQ(ledger->reserve(id), std::nullopt);
    }
    ledger->record(executed, State::executed);
    ledger->record(failed, State::failed);

    fileSystem->clearCalls();
    EXPECT_EQ(ledger->reserve(executed), State::executed);
    EXPECT_EQ(ledger->reserve(failed), State::failed);
    EXPECT_EQ(ledger->reserve(pending), State::accepted);
    EXPECT_FALSE(wrote(*fileSystem));
}

TEST_F(CommandLedgerTest, RecordOverwritesAnyStateAndOnlyRewritesTheLedgerFile) {
    auto ledger = open();
    const Uuid id = Uuid::random();
    ledger->reserve(id);
    ledger->record(id, State::executed);
    const auto tombstonesBefore = readBytes(tombstoneFile());

    fileSystem->clearCalls();
    ledger->record(id, State::failed);
    EXPECT_EQ(ledger->reserve(id), State::failed);
    EXPECT_EQ(fileSystem->renamedTo().back(), ledgerFile());
    EXPECT_EQ(std::count(fileSystem->calls().begin(), fileSystem->calls().end(), Step::rename), 1);
    EXPECT_EQ(readBytes(tombstoneFile()), tombstonesBefore);
}

TEST_F(CommandLedgerTest, RecordOfAnUnreservedIdentifierFails) {
    auto ledger = open();
    ledger->reserve(Uuid::random());
    fileSystem->clearCalls();
    const CommandLedgerError error =
        ledgerErrorOf([&] { ledger->record(Uuid::random(), State::executed); });
    EXPECT_EQ(error, CommandLedgerError::unknownReservation());
    EXPECT_EQ(error.message(), "The Bridge command is not reserved.");
    EXPECT_FALSE(wrote(*fileSystem));
}

TEST_F(CommandLedgerTest, AnswersSurviveARestart) {
    const Uuid executed = Uuid::random();
    const Uuid failed = Uuid::random();
    const Uuid pending = Uuid::random();
    Uuid ledgerID;
    {
        auto ledger = open();
        ledgerID = ledger->ledgerID();
        for (const Uuid& id : {executed, failed, pending}) {
            ledger->reserve(id);
        }
        ledger->record(executed, State::executed);
        ledger->record(failed, State::failed);
    }
    auto reopened = open();
    EXPECT_EQ(reopened->ledgerID(), ledgerID);
    EXPECT_EQ(reopened->reserve(executed), State::executed);
    EXPECT_EQ(reopened->reserve(failed), State::failed);
    EXPECT_EQ(reopened->reserve(pending), State::accepted);
    EXPECT_EQ(reopened->reserve(Uuid::random()), std::nullopt);
}

TEST_F(CommandLedgerTest, IdentifiersLeavingTheWindowStayKnownButLoseTheirState) {
    // The standard window of 2048 entries, written directly with 2047 of them so that
    // the test pays for a few saves only; the filter is small to keep those quick.
    const Parameters parameters{2048, 262'144, 7, 20'000};
    const Uuid first = Uuid::random();
    const Uuid second = Uuid::random();
    std::vector<CommandLedger::Entry> entries = {{first, State::executed}, {second, State::failed}};
    while (entries.size() < 2047) {
        entries.push_back({Uuid::random(), State::accepted});
    }
    writeFiles(Uuid::random(), entries, TombstoneFilter(262'144, 7, 20'000));

    auto ledger = open(parameters);
    ASSERT_EQ(ledger->reserve(Uuid::random()), std::nullopt);
    // 2047 newer: the first is still held with its state.
    EXPECT_EQ(ledger->orderedEntries().size(), 2048U);
    EXPECT_EQ(ledger->reserve(first), State::executed);
    ASSERT_EQ(ledger->reserve(Uuid::random()), std::nullopt);

    EXPECT_EQ(ledger->orderedEntries().size(), 2048U);
    EXPECT_EQ(ledger->orderedEntries().front(), (CommandLedger::Entry{second, State::failed}));
    EXPECT_EQ(ledger->reserve(first), State::accepted);
    EXPECT_EQ(ledgerErrorOf([&] { ledger->record(first, State::failed); }),
              CommandLedgerError::unknownReservation());
    EXPECT_EQ(ledger->reserve(second), State::failed);

    ledger.reset();
    auto reopened = open(parameters);
    EXPECT_EQ(reopened->orderedEntries().size(), 2048U);
    EXPECT_EQ(reopened->reserve(first), State::accepted);
    EXPECT_EQ(reopened->reserve(second), State::failed);
}

TEST_F(CommandLedgerTest, SmallWindowDropsTheOldestEntryAtEachReservation) {
    auto ledger = open(Parameters{3, 8192, 7, 500});
    std::vector<Uuid> ids;
    for (int i = 0; i < 5; ++i) {
        ids.push_back(Uuid::random());
        ledger->reserve(ids.back());
        ledger->record(ids.back(), State::executed);
    }
    EXPECT_EQ(ledger->orderedEntries(),
              (std::vector<CommandLedger::Entry>{{ids[2], State::executed},
                                                 {ids[3], State::executed},
                                                 {ids[4], State::executed}}));
    // Each reservation's filter went to disk and then became the one in memory.
    EXPECT_EQ(ledger->tombstones().insertionCount(), 5);
    EXPECT_EQ(decodeTombstones(readBytes(tombstoneFile())).filter, ledger->tombstones());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ledger->reserve(ids[i]), State::accepted);
    }
    for (int i = 2; i < 5; ++i) {
        EXPECT_EQ(ledger->reserve(ids[i]), State::executed);
    }
}

TEST_F(CommandLedgerTest, FullFilterRefusesNewIdentifiersAndStillAnswersKnownOnes) {
    const Parameters parameters{2, 8192, 7, 3};
    auto ledger = open(parameters);
    const Uuid first = Uuid::random();
    ledger->reserve(first);
    ledger->record(first, State::executed);
    const Uuid second = Uuid::random();
    ledger->reserve(second);
    ledger->record(second, State::failed);
    const Uuid third = Uuid::random();
    ledger->reserve(third);
    ASSERT_EQ(ledger->tombstones().insertionCount(), 3);

    Uuid fresh = Uuid::random();
    while (ledger->tombstones().contains(fresh)) {
        fresh = Uuid::random();
    }
    const auto tombstonesBefore = readBytes(tombstoneFile());
    const auto ledgerBefore = readBytes(ledgerFile());
    const CommandLedgerError error = ledgerErrorOf([&] { ledger->reserve(fresh); });
    EXPECT_EQ(error, CommandLedgerError::saturated());
    EXPECT_EQ(error.message(), "The command ledger reached its safe capacity limit.");
    EXPECT_EQ(readBytes(tombstoneFile()), tombstonesBefore);
    EXPECT_EQ(readBytes(ledgerFile()), ledgerBefore);

    EXPECT_EQ(ledger->reserve(first), State::accepted); // only tombstoned now
    EXPECT_EQ(ledger->reserve(second), State::failed);
    EXPECT_EQ(ledger->reserve(third), State::accepted);
    ledger->record(third, State::executed);
    EXPECT_EQ(ledger->reserve(third), State::executed);

    ledger.reset();
    auto reopened = open(parameters);
    EXPECT_EQ(ledgerErrorOf([&] { reopened->reserve(fresh); }), CommandLedgerError::saturated());
}

TEST_F(CommandLedgerTest, LeftoverTemporaryFilesOfThisLedgerAreRemovedAndNothingElse) {
    std::filesystem::create_directories(ledgerFolder());
    const std::string upper = Uuid::random().text();
    std::string lower = upper;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    const std::set<std::string> stale = {
        ".command-ledger.json." + upper + ".tmp",
        ".command-ledger.tombstones-v1.bin." + Uuid::random().text() + ".tmp",
    };
    const std::set<std::string> kept = {
        ".command-ledger.json." + lower + ".tmp",
        "command-ledger.json." + upper + ".tmp",
        ".command-ledger.json." + upper + ".tmp.bak",
        ".command-ledger.json." + upper + "0.tmp",
        ".command-ledger.json.not-an-identifier-at-all-0000000000.tmp",
        ".preferences.json." + upper + ".tmp",
        ".command-ledger.lock." + upper + ".tmp",
        "notes.txt",
    };
    for (const auto& names : {stale, kept}) {
        for (const std::string& name : names) {
            writeFile(ledgerFolder() / name, "x");
        }
    }
    auto ledger = open();
    std::set<std::string> expected = kept;
    expected.insert("command-ledger.lock");
    EXPECT_EQ(namesIn(ledgerFolder()), expected);
}

TEST_F(CommandLedgerTest, SecondLedgerOnTheSameFilesIsRefusedAndTouchesNothing) {
    auto first = open();
    first->reserve(Uuid::random());
    const std::string stale = ".command-ledger.json." + Uuid::random().text() + ".tmp";
    writeFile(ledgerFolder() / stale, "x");
    const auto names = namesIn(ledgerFolder());
    const auto tombstonesBefore = readBytes(tombstoneFile());
    const auto ledgerBefore = readBytes(ledgerFile());

    fileSystem->clearCalls();
    try {
        open();
        FAIL() << "a second ledger opened the same files";
    } catch (const CommandLedgerLockError& error) {
        EXPECT_EQ(error, CommandLedgerLockError::alreadyInUse());
        EXPECT_EQ(std::string(error.what()), "Varnello Bridge is already running: another Varnello "
                                             "Bridge is already using the command ledger.");
    }
    for (Step step : fileSystem->calls()) {
        EXPECT_TRUE(step == Step::kind || step == Step::tryLockExclusive) << stepName(step);
    }
    EXPECT_EQ(namesIn(ledgerFolder()), names);
    EXPECT_EQ(readBytes(tombstoneFile()), tombstonesBefore);
    EXPECT_EQ(readBytes(ledgerFile()), ledgerBefore);

    first.reset();
    EXPECT_NO_THROW(open());
}

TEST_F(CommandLedgerTest, ParametersOutOfRangeAreProgrammingErrors) {
    const Parameters cases[] = {
        {0, 8192, 7, 10}, {2049, 8192, 7, 10}, {8, 12, 7, 10}, {8, 8192, 0, 10}, {8, 8192, 7, 0},
    };
    for (const Parameters& parameters : cases) {
        EXPECT_THROW(open(parameters), std::invalid_argument) << parameters.maximumEntries;
    }
    EXPECT_THROW(CommandLedger(ledgerFile(), nullptr, 8, 8192, 7, 10), std::invalid_argument);
}

// Sets or clears an environment variable for one test and puts it back afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(CommandLedgerTest, StandardLedgerLivesInTheDataHome) {
    const std::string dataHome = (folder.path() / "xdg" / "share").string();
    const std::string home = (folder.path() / "home").string();
    const struct {
        const char* dataHomeVariable;
        std::filesystem::path expectedFolder;
    } cases[] = {
        {dataHome.c_str(), folder.path() / "xdg" / "share" / "TessaroBridge"},
        {nullptr, folder.path() / "home" / ".local" / "share" / "TessaroBridge"},
        {"", folder.path() / "home" / ".local" / "share" / "TessaroBridge"},
        {"relative/share", folder.path() / "home" / ".local" / "share" / "TessaroBridge"},
    };
    ScopedVariable homeVariable("HOME", home.c_str());
    for (const auto& c : cases) {
        ScopedVariable variable("XDG_DATA_HOME", c.dataHomeVariable);
        CommandLedger ledger(std::make_shared<PosixLedgerFileSystem>());
        EXPECT_EQ(ledger.fileURL(), c.expectedFolder / "command-ledger.json");
        EXPECT_EQ(ledger.tombstoneFileURL(), c.expectedFolder / "command-ledger.tombstones-v1.bin");
        EXPECT_EQ(ledger.maximumEntries(), 2048);
        EXPECT_EQ(ledger.tombstones().bitCount(), 8'388'608);
        EXPECT_EQ(ledger.tombstones().hashCount(), 7);
        EXPECT_EQ(ledger.tombstones().maximumInsertions(), 250'000);
        EXPECT_EQ(namesIn(c.expectedFolder), (std::set<std::string>{"command-ledger.lock"}));
    }
}

TEST_F(CommandLedgerTest, StandardLedgerSavesFilesOfTheStandardSize) {
    auto ledger = std::make_unique<CommandLedger>(
        std::make_shared<FaultInjectingFileSystem>(folder.path() / "share"));
    const Uuid id = Uuid::random();
    ledger->reserve(id);
    ledger->record(id, State::executed);
    const std::filesystem::path ledgerFolderPath = folder.path() / "share" / "TessaroBridge";
    EXPECT_EQ(std::filesystem::file_size(ledgerFolderPath / "command-ledger.tombstones-v1.bin"),
              1'048'692U);
    ledger.reset();
    CommandLedger reopened(std::make_shared<FaultInjectingFileSystem>(folder.path() / "share"));
    EXPECT_EQ(reopened.reserve(id), State::executed);
}

TEST_F(CommandLedgerTest, DataHomeThatCannotBeLocatedFailsWithThePlatformError) {
    fileSystem->failAt(Step::dataHomeDirectory, 1, ENOENT);
    try {
        CommandLedger ledger(fileSystem);
        FAIL() << "opened without a data home";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(ENOENT, std::generic_category()));
    }
}

} // namespace
} // namespace varnello::testing
