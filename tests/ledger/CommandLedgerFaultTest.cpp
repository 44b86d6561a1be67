#include "ledger/CommandLedgerError.h"
#include "ledger/LedgerFixture.h"

namespace varnello::testing {
namespace {

using Step = FaultInjectingFileSystem::Step;
using State = CommandLedgerState;

enum class Target { tombstoneFileOfReserve, ledgerFileOfReserve, ledgerFileOfRecord };

struct FaultCase {
    Step step;
    Target target;
};

std::string caseName(const ::testing::TestParamInfo<FaultCase>& info) {
    const char* target = info.param.target == Target::tombstoneFileOfReserve ? "TombstoneOfReserve"
                         : info.param.target == Target::ledgerFileOfReserve  ? "LedgerOfReserve"
                                                                             : "LedgerOfRecord";
    return std::string(stepName(info.param.step)) + "_" + target;
}

class CommandLedgerFaultTest : public LedgerFixture,
                               public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CommandLedgerFaultTest, FailedSaveKeepsFilesAndMemoryConsistent) {
    const auto [step, target] = GetParam();
    const bool reserving = target != Target::ledgerFileOfRecord;
    // Past the rename the new file is in place; only the folder entry's sync failed.
    const bool renamed = step == Step::syncDirectory;

    auto ledger = open();
    const Uuid done = Uuid::random();
    ledger->reserve(done);
    ledger->record(done, State::executed);
    const Uuid pending = Uuid::random();
    ledger->reserve(pending);
    const auto ledgerBefore = readBytes(ledgerFile());
    const auto tombstonesBefore = readBytes(tombstoneFile());
    const auto entriesBefore = ledger->orderedEntries();
    const TombstoneFilter filterBefore = ledger->tombstones();
    const Uuid fresh = Uuid::random();

    fileSystem->failAt(step, target == Target::ledgerFileOfReserve ? 2 : 1);
    const CommandLedgerError error = ledgerErrorOf([&] {
        if (reserving) {
            ledger->reserve(fresh);
        } else {
            ledger->record(pending, State::executed);
        }
    });
    EXPECT_EQ(error, CommandLedgerError::storageUnavailable());
    EXPECT_FALSE(fileSystem->faultPending());
    EXPECT_EQ(namesIn(ledgerFolder()),
              (std::set<std::string>{"command-ledger.json", "command-ledger.tombstones-v1.bin",
                                     "command-ledger.lock"}));
    EXPECT_EQ(ledger->orderedEntries(), entriesBefore);

    const auto& faultedBefore =
        target == Target::tombstoneFileOfReserve ? tombstonesBefore : ledgerBefore;
    const auto faultedAfter =
        readBytes(target == Target::tombstoneFileOfReserve ? tombstoneFile() : ledgerFile());
    if (renamed) {
        EXPECT_NE(faultedAfter, faultedBefore);
    } else {
        EXPECT_EQ(faultedAfter, faultedBefore);
    }

    switch (target) {
    case Target::tombstoneFileOfReserve:
        EXPECT_EQ(ledger->tombstones(), filterBefore);
        EXPECT_EQ(readBytes(ledgerFile()), ledgerBefore);
        break;
    case Target::ledgerFileOfReserve:
        EXPECT_TRUE(ledger->tombstones().contains(fresh));
        EXPECT_TRUE(decodeTombstones(readBytes(tombstoneFile())).filter.contains(fresh));
        fileSystem->clearCalls();
        EXPECT_EQ(ledger->reserve(fresh), State::accepted);
        EXPECT_TRUE(fileSystem->renamedTo().empty());
        break;
    case Target::ledgerFileOfRecord:
        EXPECT_EQ(ledger->tombstones(), filterBefore);
        EXPECT_EQ(readBytes(tombstoneFile()), tombstonesBefore);
        EXPECT_EQ(ledger->reserve(pending), State::accepted);
        break;
    }
    EXPECT_EQ(ledger->reserve(done), State::executed);

    // Whatever the failure left on disk loads, and never makes an identifier new that a
    // file already knows.
    ledger.reset();
    auto reopened = open();
    EXPECT_EQ(reopened->reserve(done), State::executed);
    switch (target) {
    case Target::tombstoneFileOfReserve:
        EXPECT_EQ(reopened->reserve(fresh),
                  renamed ? std::optional(State::accepted) : std::nullopt);
        break;
    case Target::ledgerFileOfReserve:
        EXPECT_EQ(reopened->reserve(fresh), State::accepted);
        break;
    case Target::ledgerFileOfRecord:
        EXPECT_EQ(reopened->reserve(pending), renamed ? State::executed : State::accepted);
        reopened->record(pending, State::failed);
        EXPECT_EQ(reopened->reserve(pending), State::failed);
        break;
    }
}

std::vector<FaultCase> allCases() {
    std::vector<FaultCase> cases;
    for (Target target : {Target::tombstoneFileOfReserve, Target::ledgerFileOfReserve,
                          Target::ledgerFileOfRecord}) {
        for (Step step : {Step::createEmptyFile, Step::openForWriting, Step::writeAll,
                          Step::syncFile, Step::closeFile, Step::rename, Step::syncDirectory}) {
            cases.push_back({step, target});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryStep, CommandLedgerFaultTest, ::testing::ValuesIn(allCases()),
                         caseName);

} // namespace
} // namespace varnello::testing
