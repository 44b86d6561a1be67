// The two ledger commands on real files in a temporary folder: what `ledger status`
// reports of intact, damaged and full ledgers without changing a byte, and how
// `ledger set-aside` moves exactly the two ledger files, only with --yes and never
// beside a ledger in use.

#include "app/LedgerCommands.h"

#include "ledger/CommandLedger.h"
#include "ledger/PosixLedgerFileSystem.h"
#include "support/TemporaryFolder.h"

#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace varnello {
namespace {

using namespace std::chrono_literals;

// 2026-12-11 12:45:00 UTC.
const auto setAsideTime = std::chrono::system_clock::time_point(1'796'993'100s);

std::map<std::string, std::string> filesBelow(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    if (!std::filesystem::exists(folder)) {
        return files;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[std::filesystem::relative(entry.path(), folder).string()] =
                testing::readFile(entry.path());
        }
    }
    return files;
}

class LedgerCommandsTest : public ::testing::Test {
protected:
    std::unique_ptr<CommandLedger> openLedger(std::int64_t maximumInsertions = 250'000) {
        return std::make_unique<CommandLedger>(ledgerFile, fileSystem,
                                               CommandLedger::standardMaximumEntries, 1 << 20, 7,
                                               maximumInsertions);
    }

    // A ledger with one entry in each state; its ID.
    std::string writeLedgerOfThree() {
        auto ledger = openLedger();
        const Uuid executed = Uuid::random();
        const Uuid failed = Uuid::random();
        ledger->reserve(executed);
        ledger->reserve(failed);
        ledger->reserve(Uuid::random());
        ledger->record(executed, CommandLedgerState::executed);
        ledger->record(failed, CommandLedgerState::failed);
        firstExecuted = executed;
        return ledger->ledgerID().text();
    }

    std::pair<int, std::string> status() {
        std::ostringstream out;
        const int exitStatus = printLedgerStatus(fileSystem, ledgerFile, out);
        return {exitStatus, out.str()};
    }

    std::pair<int, std::string> setAside(bool yes) {
        std::ostringstream out;
        const int exitStatus = setLedgerAside(*fileSystem, ledgerFile, yes, setAsideTime, out);
        return {exitStatus, out.str()};
    }

    testing::TemporaryFolder folder;
    std::filesystem::path ledgerFolder = folder.path() / "TessaroBridge";
    std::filesystem::path ledgerFile = ledgerFolder / "command-ledger.json";
    std::shared_ptr<PosixLedgerFileSystem> fileSystem = std::make_shared<PosixLedgerFileSystem>();
    Uuid firstExecuted = Uuid::random();
    const std::string setAsideFolder = "set-aside-20261211T124500Z";
};

TEST_F(LedgerCommandsTest, StatusOfAnIntactLedgerChangesNothing) {
    const std::string id = writeLedgerOfThree();
    testing::writeFile(ledgerFolder / "notes.txt", "mine");
    const auto before = filesBelow(ledgerFolder);

    const auto [exitStatus, report] = status();
    EXPECT_EQ(exitStatus, 0) << report;
    EXPECT_EQ(report, "Folder: " + ledgerFolder.string() +
                          "\n"
                          "Files:\n"
                          "  command-ledger.json\n"
                          "  command-ledger.lock\n"
                          "  command-ledger.tombstones-v1.bin\n"
                          "  notes.txt\n"
                          "Ledger ID: " +
                          id +
                          "\n"
                          "Entries: 3 of 2048 (accepted 1, executed 1, failed 1)\n"
                          "Insertions: 3 of 250000 (0%)\n"
                          "Loads: yes\n");
    EXPECT_EQ(filesBelow(ledgerFolder), before);
}

TEST_F(LedgerCommandsTest, StatusWorksBesideALedgerInUse) {
    const std::string id = writeLedgerOfThree();
    const auto inUse = openLedger();
    const auto [exitStatus, report] = status();
    EXPECT_EQ(exitStatus, 0) << report;
    EXPECT_NE(report.find("Ledger ID: " + id + "\n"), std::string::npos) << report;
    EXPECT_NE(report.find("Loads: yes\n"), std::string::npos) << report;
}

TEST_F(LedgerCommandsTest, StatusOfDamagedLedgersGivesTheExactErrorAndStatusOne) {
    const struct {
        const char* name;
        std::function<void(const std::filesystem::path&)> damage;
    } cases[] = {
        {"a changed byte",
         [](const std::filesystem::path& file) {
             std::string text = testing::readFile(file);
             text[text.find("executed")] = 'E';
             testing::writeFile(file, text);
         }},
        // A crash between the two writes of the very first reservation.
        {"tombstones without ledger file",
         [](const std::filesystem::path& file) { std::filesystem::remove(file); }},
        {"not JSON", [](const std::filesystem::path& file) { testing::writeFile(file, "{"); }},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(ledgerFolder);
        writeLedgerOfThree();
        c.damage(ledgerFile);
        const auto before = filesBelow(ledgerFolder);
        const auto [exitStatus, report] = status();
        EXPECT_EQ(exitStatus, 1) << c.name << "\n" << report;
        EXPECT_NE(
            report.find("Loads: no: The command ledger has an unknown or corrupted format.\n"),
            std::string::npos)
            << c.name << "\n"
            << report;
        EXPECT_NE(report.find("varnello-bridge ledger set-aside"), std::string::npos) << report;
        EXPECT_EQ(filesBelow(ledgerFolder), before) << c.name;
    }
}

TEST_F(LedgerCommandsTest, StatusOfAFullLedgerSaysSo) {
    {
        auto ledger = openLedger(5);
        for (int i = 0; i < 5; ++i) {
            ledger->reserve(Uuid::random());
        }
        EXPECT_THROW(ledger->reserve(Uuid::random()), CommandLedgerError);
    }
    const auto [exitStatus, report] = status();
    EXPECT_EQ(exitStatus, 0) << report;
    EXPECT_NE(report.find("Insertions: 5 of 5 (100%)\n"), std::string::npos) << report;
    EXPECT_NE(report.find("Loads: yes\nThe ledger is full: every new command is refused.\n"),
              std::string::npos)
        << report;
}

TEST_F(LedgerCommandsTest, StatusWithoutAFolderCreatesNone) {
    const auto [exitStatus, report] = status();
    EXPECT_EQ(exitStatus, 0) << report;
    EXPECT_NE(report.find("does not exist yet"), std::string::npos) << report;
    EXPECT_FALSE(std::filesystem::exists(ledgerFolder));
}

TEST_F(LedgerCommandsTest, SetAsideIsRefusedWhileTheLedgerIsInUse) {
    writeLedgerOfThree();
    const auto inUse = openLedger();
    const auto before = filesBelow(ledgerFolder);
    for (const bool yes : {false, true}) {
        const auto [exitStatus, report] = setAside(yes);
        EXPECT_EQ(exitStatus, 1) << report;
        EXPECT_NE(report.find("Varnello Bridge is running"), std::string::npos) << report;
        EXPECT_EQ(filesBelow(ledgerFolder), before);
    }
}

TEST_F(LedgerCommandsTest, SetAsideWithoutYesOnlySaysWhatItWouldDo) {
    writeLedgerOfThree();
    const auto before = filesBelow(ledgerFolder);
    const auto [exitStatus, report] = setAside(false);
    EXPECT_EQ(exitStatus, 0) << report;
    EXPECT_EQ(report.rfind("Would move into " + (ledgerFolder / setAsideFolder).string() +
                               ":\n  command-ledger.json\n  command-ledger.tombstones-v1.bin\n",
                           0),
              0u)
        << report;
    EXPECT_NE(report.find("--yes"), std::string::npos);
    EXPECT_EQ(filesBelow(ledgerFolder), before);
    EXPECT_FALSE(std::filesystem::exists(ledgerFolder / setAsideFolder));
}

TEST_F(LedgerCommandsTest, SetAsideMovesExactlyTheTwoFilesAndAFreshLedgerStarts) {
    writeLedgerOfThree();
    const std::string temporary = ".command-ledger.json.0A1B.tmp";
    testing::writeFile(ledgerFolder / "notes.txt", "mine");
    testing::writeFile(ledgerFolder / temporary, "half");
    const auto before = filesBelow(ledgerFolder);

    const auto [exitStatus, report] = setAside(true);
    EXPECT_EQ(exitStatus, 0) << report;
    EXPECT_NE(report.find("no longer remembered"), std::string::npos) << report;
    const auto after = filesBelow(ledgerFolder);
    const std::map<std::string, std::string> expected{
        {"command-ledger.lock", before.at("command-ledger.lock")},
        {"notes.txt", "mine"},
        {temporary, "half"},
        {setAsideFolder + "/command-ledger.json", before.at("command-ledger.json")},
        {setAsideFolder + "/command-ledger.tombstones-v1.bin",
         before.at("command-ledger.tombstones-v1.bin")},
    };
    EXPECT_EQ(after, expected);

    // The next start begins afresh: the identifier executed before is new to it.
    auto fresh = openLedger();
    EXPECT_TRUE(fresh->orderedEntries().empty());
    EXPECT_EQ(fresh->reserve(firstExecuted), std::nullopt);

    // A second set-aside in the same second does not mix the two.
    fresh.reset();
    const auto [again, againReport] = setAside(true);
    EXPECT_EQ(again, 1) << againReport;
    EXPECT_NE(againReport.find("Could not set the ledger aside: "), std::string::npos)
        << againReport;
}

TEST_F(LedgerCommandsTest, SetAsideWithNothingToMoveMovesNothing) {
    const auto [exitStatus, report] = setAside(true);
    EXPECT_EQ(exitStatus, 0) << report;
    EXPECT_NE(report.find("Nothing to set aside"), std::string::npos) << report;
    EXPECT_FALSE(std::filesystem::exists(ledgerFolder));
}

} // namespace
} // namespace varnello
