#include "ledger/LedgerStorage.h"

#include "ledger/CommandLedgerError.h"
#include "ledger/FaultInjectingFileSystem.h"
#include "support/TemporaryFolder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace varnello::testing {
namespace {

using Step = FaultInjectingFileSystem::Step;

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

class LedgerStorageTest : public ::testing::Test {
protected:
    TemporaryFolder folder;
    FaultInjectingFileSystem fileSystem;
};

TEST_F(LedgerStorageTest, WriteAtomicallyReplacesTheFileAndLeavesNothingElse) {
    const auto file = folder / "command-ledger.json";
    writeFile(file, "old");
    writeAtomically(fileSystem, bytesOf("new content"), file);
    EXPECT_EQ(readFile(file), "new content");
    EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"command-ledger.json"}));
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600U);
    // The data is synced before the rename, the folder after it.
    const auto& calls = fileSystem.calls();
    const auto at = [&](Step step) { return std::find(calls.begin(), calls.end(), step); };
    EXPECT_LT(at(Step::syncFile), at(Step::rename));
    EXPECT_LT(at(Step::closeFile), at(Step::rename));
    EXPECT_EQ(calls.back(), Step::syncDirectory);
}

TEST_F(LedgerStorageTest, WriteAtomicallyCreatesAMissingFolderChain) {
    const auto file = folder.path() / "a" / "b" / "ledger.json";
    writeAtomically(fileSystem, bytesOf("x"), file);
    EXPECT_EQ(readFile(file), "x");
    EXPECT_EQ(
        std::count(fileSystem.calls().begin(), fileSystem.calls().end(), Step::createDirectory), 2);
}

TEST_F(LedgerStorageTest, EveryFailedStepLeavesTheOldFileAndNoTemporaryFile) {
    const struct {
        Step step;
        bool platformError;
    } cases[] = {
        {Step::createEmptyFile, false}, {Step::openForWriting, true}, {Step::writeAll, true},
        {Step::syncFile, true},         {Step::closeFile, true},      {Step::rename, true},
    };
    for (const bool existing : {true, false}) {
        for (const auto& c : cases) {
            const auto file = folder / "command-ledger.tombstones-v1.bin";
            std::filesystem::remove(file);
            if (existing) {
                writeFile(file, "old");
            }
            fileSystem.failAt(c.step, 1, ENOSPC);
            try {
                writeAtomically(fileSystem, bytesOf(std::string(100'000, 'n')), file);
                ADD_FAILURE() << stepName(c.step) << " failure was ignored";
            } catch (const CommandLedgerError& error) {
                EXPECT_FALSE(c.platformError) << stepName(c.step);
                EXPECT_EQ(error, CommandLedgerError::storageUnavailable());
            } catch (const std::system_error& error) {
                EXPECT_TRUE(c.platformError) << stepName(c.step);
                EXPECT_EQ(error.code(), std::error_code(ENOSPC, std::generic_category()));
            }
            const std::set<std::string> expected =
                existing ? std::set<std::string>{"command-ledger.tombstones-v1.bin"}
                         : std::set<std::string>{};
            EXPECT_EQ(namesIn(folder.path()), expected) << stepName(c.step);
            if (existing) {
                EXPECT_EQ(readFile(file), "old") << stepName(c.step);
            }
        }
    }
}

TEST_F(LedgerStorageTest, FailedFolderSyncIsReportedAfterTheNewFileIsInPlace) {
    const auto file = folder / "command-ledger.json";
    writeFile(file, "old");
    fileSystem.failAt(Step::syncDirectory, 1, EIO);
    EXPECT_THROW(writeAtomically(fileSystem, bytesOf("new"), file), std::system_error);
    EXPECT_EQ(readFile(file), "new");
    EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"command-ledger.json"}));
}

TEST_F(LedgerStorageTest, EnsureDirectoryRefusesWhatIsNoFolder) {
    writeFile(folder / "file", "x");
    const std::filesystem::path cases[] = {
        folder / "file",
        folder.path() / "file" / "below",
        "relative-folder",
    };
    for (const auto& path : cases) {
        try {
            ensureDirectory(fileSystem, path);
            ADD_FAILURE() << path << " was taken for a folder";
        } catch (const CommandLedgerError& error) {
            EXPECT_EQ(error, CommandLedgerError::storageUnavailable()) << path;
        }
    }
    EXPECT_NO_THROW(ensureDirectory(fileSystem, "/"));
}

TEST_F(LedgerStorageTest, EnsureDirectorySyncsEachNewFolderAndItsParent) {
    fileSystem.clearCalls();
    ensureDirectory(fileSystem, folder.path() / "one" / "two");
    EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "one" / "two"));
    EXPECT_EQ(std::count(fileSystem.calls().begin(), fileSystem.calls().end(), Step::syncDirectory),
              4);
    fileSystem.clearCalls();
    ensureDirectory(fileSystem, folder.path() / "one" / "two");
    EXPECT_EQ(fileSystem.calls(), std::vector<Step>{Step::kind});
}

TEST_F(LedgerStorageTest, TemporaryNamesAreRecognisedExactly) {
    const auto temporary = temporaryPath("/data/command-ledger.json");
    EXPECT_EQ(temporary.parent_path(), "/data");
    const std::string name = temporary.filename().string();
    EXPECT_TRUE(name.starts_with(".command-ledger.json.")) << name;
    EXPECT_TRUE(name.ends_with(".tmp")) << name;
    EXPECT_TRUE(isTemporaryNameOf(name, "command-ledger.json"));
    EXPECT_NE(temporaryPath("/data/command-ledger.json"), temporary);

    const std::string id = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
    const struct {
        std::string name;
        bool expected;
    } cases[] = {
        {".command-ledger.json." + id + ".tmp", true},
        {".command-ledger.json.6f9619ff-8b86-d011-b42d-00c04fc964ff.tmp", false},
        {"command-ledger.json." + id + ".tmp", false},
        {".command-ledger.json." + id + ".tm", false},
        {".command-ledger.json." + id + ".tmpx", false},
        {".command-ledger.json." + id + "0.tmp", false},
        {".command-ledger.json.6F9619FF-8B86-D011-B42D-00C04FC964FG.tmp", false},
        {".command-ledger.jsonx" + id + ".tmp", false},
        {".other.json." + id + ".tmp", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isTemporaryNameOf(c.name, "command-ledger.json"), c.expected) << c.name;
    }
}

} // namespace
} // namespace varnello::testing
