#include "ledger/CommandLedgerError.h"
#include "ledger/LedgerFixture.h"
#include "ledger/PosixLedgerFileSystem.h"

#include <algorithm>
#include <ostream>
#include <random>
#include <stdexcept>

namespace varnello {

void PrintTo(const CommandReservation& reservation, std::ostream* out) {
    if (reservation.error) {
        *out << "error " << reservation.error->message();
    } else if (reservation.earlierState) {
        *out << "earlier " << static_cast<int>(*reservation.earlierState);
    } else {
        *out << "new";
    }
}

} // namespace varnello

namespace varnello::testing {
namespace {

using Step = FaultInjectingFileSystem::Step;
using State = CommandLedgerState;

class CommandLedgerBatchTest : public LedgerFixture {};

// What reserve answered, or the error it threw, in the shape reserveAll answers.
CommandReservation reservedAlone(CommandLedger& ledger, const Uuid& id) {
    try {
        return CommandReservation{ledger.reserve(id), std::nullopt};
    } catch (const CommandLedgerError& error) {
        return CommandReservation{std::nullopt, error};
    }
}

std::size_t renamesTo(const FaultInjectingFileSystem& fileSystem,
                      const std::filesystem::path& file) {
    const auto& renamed = fileSystem.renamedTo();
    return static_cast<std::size_t>(std::count(renamed.begin(), renamed.end(), file));
}

// Random batches mixing new, repeated, recorded, window-leaving and (near the end)
// refused identifiers, against a twin ledger that gets the same identifiers one by one.
TEST_F(CommandLedgerBatchTest, BatchAnswersAsOneAtATimeWouldWithOneWriteOfEachFile) {
    const Parameters parameters{8, 8192, 7, 120};
    auto batched = open(parameters);
    CommandLedger single(folder.path() / "single" / "command-ledger.json",
                         std::make_shared<PosixLedgerFileSystem>(), parameters.maximumEntries,
                         parameters.bitCount, parameters.hashCount, parameters.maximumInsertions);
    std::mt19937 random(20261210);
    std::vector<Uuid> history;
    bool sawSaturation = false;
    for (int round = 0; round < 60; ++round) {
        std::vector<Uuid> batch;
        const int size = std::uniform_int_distribution<int>(1, 8)(random);
        for (int i = 0; i < size; ++i) {
            const int kind = std::uniform_int_distribution<int>(0, 3)(random);
            if (kind == 0 && !history.empty()) {
                batch.push_back(history[std::uniform_int_distribution<std::size_t>(
                    0, history.size() - 1)(random)]);
            } else if (kind == 1 && !batch.empty()) {
                batch.push_back(batch.front());
            } else {
                batch.push_back(Uuid::random());
            }
        }
        std::vector<CommandReservation> expected;
        for (const Uuid& id : batch) {
            expected.push_back(reservedAlone(single, id));
        }
        fileSystem->clearCalls();
        const std::vector<CommandReservation> answers = batched->reserveAll(batch);
        ASSERT_EQ(answers, expected) << "round " << round;

        const bool anyNew = std::any_of(answers.begin(), answers.end(),
                                        [](const CommandReservation& r) { return r.isNew(); });
        EXPECT_EQ(renamesTo(*fileSystem, tombstoneFile()), anyNew ? 1U : 0U);
        EXPECT_EQ(renamesTo(*fileSystem, ledgerFile()), anyNew ? 1U : 0U);

        std::vector<CommandLedger::Entry> outcomes;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            sawSaturation = sawSaturation || answers[i].error == CommandLedgerError::saturated();
            if (answers[i].isNew()) {
                history.push_back(batch[i]);
                const State state = (i % 3 == 0) ? State::failed : State::executed;
                outcomes.push_back({batch[i], state});
                single.record(batch[i], state);
            }
        }
        fileSystem->clearCalls();
        batched->recordAll(outcomes);
        EXPECT_EQ(renamesTo(*fileSystem, ledgerFile()), outcomes.empty() ? 0U : 1U);
        EXPECT_TRUE(renamesTo(*fileSystem, tombstoneFile()) == 0U);
        ASSERT_EQ(batched->orderedEntries(), single.orderedEntries()) << "round " << round;
        ASSERT_EQ(batched->tombstones(), single.tombstones());
    }
    EXPECT_TRUE(sawSaturation) << "the rounds should reach the filter's limit";

    batched.reset();
    auto reopened = open(parameters);
    EXPECT_EQ(reopened->orderedEntries(), single.orderedEntries());
}

TEST_F(CommandLedgerBatchTest, FailedWriteFailsTheNewIdentifiersAndStillAnswersKnownOnes) {
    for (const bool tombstoneWriteFails : {true, false}) {
        SCOPED_TRACE(tombstoneWriteFails ? "tombstone file" : "ledger file");
        std::filesystem::remove_all(ledgerFolder());
        auto ledger = open();
        const Uuid known = Uuid::random();
        ledger->reserve(known);
        ledger->record(known, State::executed);
        const auto entriesBefore = ledger->orderedEntries();
        const auto ledgerBefore = readBytes(ledgerFile());

        const std::vector<Uuid> batch{Uuid::random(), known, Uuid::random()};
        fileSystem->failAt(Step::rename, tombstoneWriteFails ? 1 : 2);
        const auto answers = ledger->reserveAll(batch);
        const CommandReservation cannotSave{std::nullopt, CommandLedgerError::storageUnavailable()};
        EXPECT_EQ(answers, (std::vector<CommandReservation>{
                               cannotSave, {State::executed, std::nullopt}, cannotSave}));
        EXPECT_EQ(ledger->orderedEntries(), entriesBefore);
        EXPECT_EQ(readBytes(ledgerFile()), ledgerBefore);

        const auto again = ledger->reserveAll(std::vector<Uuid>{batch[0]});
        if (tombstoneWriteFails) {
            EXPECT_TRUE(again[0].isNew()) << "nothing was saved, so the identifier is still new";
        } else {
            EXPECT_EQ(again[0].earlierState, State::accepted)
                << "the tombstone file holds it: never new again";
        }
    }
}

TEST_F(CommandLedgerBatchTest, RecordAllWritesOnceOrNotAtAll) {
    auto ledger = open();
    const std::vector<Uuid> ids{Uuid::random(), Uuid::random(), Uuid::random()};
    ASSERT_EQ(ledger->reserveAll(ids).size(), 3U);
    const auto ledgerBefore = readBytes(ledgerFile());

    const std::vector<CommandLedger::Entry> withStranger{{ids[0], State::executed},
                                                         {Uuid::random(), State::executed}};
    EXPECT_EQ(ledgerErrorOf([&] { ledger->recordAll(withStranger); }),
              CommandLedgerError::unknownReservation());
    EXPECT_EQ(readBytes(ledgerFile()), ledgerBefore);
    EXPECT_EQ(ledger->reserve(ids[0]), State::accepted);

    fileSystem->failAt(Step::syncFile);
    const std::vector<CommandLedger::Entry> outcomes{{ids[0], State::executed},
                                                     {ids[2], State::failed}};
    EXPECT_EQ(ledgerErrorOf([&] { ledger->recordAll(outcomes); }),
              CommandLedgerError::storageUnavailable());
    EXPECT_EQ(ledger->reserve(ids[2]), State::accepted);

    fileSystem->clearCalls();
    ledger->recordAll(outcomes);
    EXPECT_EQ(fileSystem->renamedTo(), std::vector<std::filesystem::path>{ledgerFile()});
    EXPECT_EQ(ledger->orderedEntries(),
              (std::vector<CommandLedger::Entry>{
                  {ids[0], State::executed}, {ids[1], State::accepted}, {ids[2], State::failed}}));
    ledger.reset();
    EXPECT_EQ(open()->orderedEntries().back(), (CommandLedger::Entry{ids[2], State::failed}));
}

TEST_F(CommandLedgerBatchTest, BatchLargerThanTheWindowIsAProgrammingError) {
    auto ledger = open(Parameters{3, 8192, 7, 500});
    const std::vector<Uuid> ids{Uuid::random(), Uuid::random(), Uuid::random(), Uuid::random()};
    EXPECT_THROW(ledger->reserveAll(ids), std::invalid_argument);
    EXPECT_EQ(ledger->tombstones().insertionCount(), 0);
    EXPECT_EQ(ledger->reserveAll(std::span(ids).first(3)).size(), 3U);
    EXPECT_EQ(ledger->orderedEntries().size(), 3U);
}

} // namespace
} // namespace varnello::testing
