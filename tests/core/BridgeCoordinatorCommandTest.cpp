#include "../outputs/UdpReceiver.h"
#include "BridgeCoordinatorTestSupport.h"
#include "ledger/LedgerFile.h"
#include "protocol/TessaroBridgeFrameCodec.h"
#include "server/WireHelpers.h"
#include "support/PrefixCharacters.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <vector>

namespace varnello {
namespace {

using testing::CoordinatorFixture;
using testing::midiCommand;
using testing::oscCommand;

constexpr const char* uncertain =
    "This command was already received; the earlier execution is uncertain.";
constexpr const char* performed = "This command has already been performed.";
constexpr const char* failedBefore = "This command failed previously and will not be retried.";
constexpr const char* cannotSave = "Could not save the command ledger safely.";

TessaroBridgeAcknowledgement accepted(const Uuid& id) {
    return {id, TessaroBridgeAckStatus::accepted, std::nullopt};
}
TessaroBridgeAcknowledgement duplicate(const Uuid& id) {
    return {id, TessaroBridgeAckStatus::duplicate, std::string(performed)};
}
TessaroBridgeAcknowledgement rejected(const Uuid& id, std::string detail) {
    return {id, TessaroBridgeAckStatus::rejected, std::move(detail)};
}

// Makes every later save of the file fail: a rename cannot replace a folder
// that has something in it.
void blockFile(const std::filesystem::path& file) {
    std::filesystem::remove(file);
    std::filesystem::create_directories(file / "blocked");
}

using CommandTest = CoordinatorFixture;

TEST_F(CommandTest, NewMIDICommandIsEmittedOnceAndRecordedExecuted) {
    auto coordinator = makeCoordinator();
    const auto command = midiCommand({0xC0, 5, 0xB0, 7, 100});
    EXPECT_EQ(coordinator->handleCommand(command), accepted(command.id));
    ASSERT_EQ(midi->packets.size(), 1u);
    EXPECT_EQ(midi->packets[0], (std::vector<std::uint8_t>{0xC0, 5, 0xB0, 7, 100}));

    coordinator.reset();
    auto ledger = makeLedger();
    EXPECT_EQ(ledger->reserve(command.id), CommandLedgerState::executed);
}

TEST_F(CommandTest, NewOSCCommandGoesToTheConfiguredDestination) {
    test::UdpReceiver receiver(AF_INET);
    preferences->saveOSCDestination("127.0.0.1", receiver.port());
    auto coordinator = makeCoordinator();
    const auto command = oscCommand("/cue/12/go");
    EXPECT_EQ(coordinator->handleCommand(command), accepted(command.id));
    const auto datagram = receiver.receive();
    ASSERT_TRUE(datagram);
    const std::string expected("/cue/12/go\0\0,\0\0\0", 16);
    EXPECT_EQ(std::string(datagram->begin(), datagram->end()), expected);
}

TEST_F(CommandTest, KnownIdentifierIsAnsweredFromItsStateWithoutRunning) {
    auto coordinator = makeCoordinator();
    const auto executed = midiCommand();
    ASSERT_EQ(coordinator->handleCommand(executed), accepted(executed.id));
    midi->emitStatus = -50;
    const auto failed = midiCommand();
    ASSERT_EQ(coordinator->handleCommand(failed),
              rejected(failed.id, "CoreMIDI could not perform ‘Send MIDI’ (-50)."));
    midi->emitStatus = 0;
    midi->packets.clear();

    struct Case {
        TessaroBridgeCommand command;
        TessaroBridgeAcknowledgement expected;
    };
    // The same identifier with another payload is still the same command.
    const Case cases[] = {
        {executed, duplicate(executed.id)},
        {midiCommand({0x80, 60, 0}, executed.id), duplicate(executed.id)},
        {oscCommand("/other", executed.id), duplicate(executed.id)},
        {failed, rejected(failed.id, failedBefore)},
        {oscCommand("/other", failed.id), rejected(failed.id, failedBefore)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(coordinator->handleCommand(c.command), c.expected);
    }
    EXPECT_TRUE(midi->packets.empty());
}

TEST_F(CommandTest, DuplicateIsRecognisedAfterARestart) {
    const auto command = midiCommand();
    {
        auto coordinator = makeCoordinator();
        ASSERT_EQ(coordinator->handleCommand(command), accepted(command.id));
    }
    midi->packets.clear();
    auto restarted = makeCoordinator();
    EXPECT_EQ(restarted->handleCommand(command), duplicate(command.id));
    EXPECT_TRUE(midi->packets.empty());
}

TEST_F(CommandTest, ReservedWithoutOutcomeIsRefusedAsUncertain) {
    const auto command = midiCommand();
    {
        // A bridge that stopped between reserving and recording.
        auto ledger = makeLedger();
        ASSERT_EQ(ledger->reserve(command.id), std::nullopt);
    }
    auto coordinator = makeCoordinator();
    EXPECT_EQ(coordinator->handleCommand(command), rejected(command.id, uncertain));
    EXPECT_TRUE(midi->packets.empty());
}

TEST_F(CommandTest, IdentifierKnownOnlyToTheTombstonesIsRefusedAsUncertain) {
    limits.maximumEntries = 1;
    auto coordinator = makeCoordinator();
    const auto first = midiCommand();
    const auto second = midiCommand();
    ASSERT_EQ(coordinator->handleCommand(first), accepted(first.id));
    ASSERT_EQ(coordinator->handleCommand(second), accepted(second.id));
    EXPECT_EQ(coordinator->handleCommand(first), rejected(first.id, uncertain));
    EXPECT_EQ(midi->packets.size(), 2u);
}

TEST_F(CommandTest, SaturatedLedgerRefusesNewIdentifiersButAnswersKnownOnes) {
    limits.maximumInsertions = 2;
    auto coordinator = makeCoordinator();
    const auto first = midiCommand();
    const auto second = midiCommand();
    ASSERT_EQ(coordinator->handleCommand(first), accepted(first.id));
    ASSERT_EQ(coordinator->handleCommand(second), accepted(second.id));

    const auto third = midiCommand();
    EXPECT_EQ(coordinator->handleCommand(third),
              rejected(third.id, "The command ledger reached its safe capacity limit."));
    EXPECT_EQ(coordinator->handleCommand(first), duplicate(first.id));
    EXPECT_EQ(midi->packets.size(), 2u);
}

TEST_F(CommandTest, ReservationThatCannotBeSavedRunsNothing) {
    auto coordinator = makeCoordinator();
    const auto earlier = midiCommand();
    ASSERT_EQ(coordinator->handleCommand(earlier), accepted(earlier.id));
    blockFile(ledgerFile().parent_path() / "command-ledger.tombstones-v1.bin");

    const auto command = oscCommand("/cue/1");
    EXPECT_EQ(coordinator->handleCommand(command), rejected(command.id, cannotSave));
    EXPECT_EQ(midi->packets.size(), 1u);
}

TEST_F(CommandTest, ExecutionFailuresAreRejectedWithTheirTextAndRecordedFailed) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
        TessaroBridgeCommand command;
        std::string detail;
    };
    const Case cases[] = {
        {"MIDI system refuses", [this] { midi->emitStatus = -50; }, midiCommand(),
         "CoreMIDI could not perform ‘Send MIDI’ (-50)."},
        {"broken MIDI message", [] {}, midiCommand({0x90, 60}),
         "The MIDI message requires 3 bytes, but contains 2."},
        {"forwarding off", [this] { preferences->setOSCForwardingEnabled(false); },
         oscCommand("/cue/1"), "OSC forwarding is disabled."},
        {"bad address", [] {}, oscCommand("cue"), "The OSC address is invalid."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        midi->emitStatus = 0;
        preferences->setOSCForwardingEnabled(true);
        auto coordinator = makeCoordinator();
        c.prepare();
        EXPECT_EQ(coordinator->handleCommand(c.command), rejected(c.command.id, c.detail));
        EXPECT_TRUE(midi->packets.empty());
        midi->emitStatus = 0;
        preferences->setOSCForwardingEnabled(true);
        EXPECT_EQ(coordinator->handleCommand(c.command), rejected(c.command.id, failedBefore));
    }
}

TEST_F(CommandTest, OSCRefusedWhileDisabledIsNotRetriedAfterEnabling) {
    test::UdpReceiver receiver(AF_INET);
    preferences->saveOSCDestination("127.0.0.1", receiver.port());
    preferences->setOSCForwardingEnabled(false);
    auto coordinator = makeCoordinator();
    const auto command = oscCommand("/cue/7");
    EXPECT_EQ(coordinator->handleCommand(command),
              rejected(command.id, "OSC forwarding is disabled."));
    preferences->setOSCForwardingEnabled(true);
    EXPECT_EQ(coordinator->handleCommand(command), rejected(command.id, failedBefore));
    EXPECT_FALSE(receiver.receive(200));
}

TEST_F(CommandTest, OutputProducedButNotRecordedIsRejectedWithTheLedgerText) {
    auto coordinator = makeCoordinator();
    const auto command = midiCommand();
    midi->duringEmit = [this] { blockFile(ledgerFile()); };
    EXPECT_EQ(coordinator->handleCommand(command), rejected(command.id, cannotSave));
    EXPECT_EQ(midi->packets.size(), 1u);
    // Neither outcome could be stored, so the ledger still holds it as received.
    midi->duringEmit = nullptr;
    EXPECT_EQ(coordinator->handleCommand(command), rejected(command.id, uncertain));
    EXPECT_EQ(midi->packets.size(), 1u);
}

TEST_F(CommandTest, UnresolvableHostDetailIsCutTo255Characters) {
    // 255 bytes, the longest host the preferences keep; the detail around it is longer.
    std::string host;
    while (host.size() < 255 - std::string(".invalid").size()) {
        host += host.size() % 50 == 49 ? '.' : 'h';
    }
    host += ".invalid";
    ASSERT_EQ(host.size(), 255u);
    preferences->saveOSCDestination(host, 9000);
    auto coordinator = makeCoordinator();
    const auto command = oscCommand("/cue/1");
    const auto acknowledgement = coordinator->handleCommand(command);
    const std::string full = "Could not find OSC host ‘" + host + "’.";
    ASSERT_GT(characterCount(full), 255u);
    ASSERT_TRUE(acknowledgement.detail);
    EXPECT_EQ(*acknowledgement.detail, prefixCharacters(full, 255));
    EXPECT_EQ(characterCount(*acknowledgement.detail), 255u);
}

TEST(CommandDetail, RejectionDetailsAreCutToWholeCharacters) {
    struct Case {
        std::string text;
        std::string expected;
    };
    std::string accented; // 300 characters of two scalars each
    for (int i = 0; i < 300; ++i) {
        accented += "e\xCC\x81";
    }
    const Case cases[] = {
        {std::string(300, 'x'), std::string(255, 'x')},
        {std::string(255, 'x'), std::string(255, 'x')},
        {accented, accented.substr(0, 255 * 3)},
        {"", ""},
    };
    const Uuid id = Uuid::random();
    for (const auto& c : cases) {
        EXPECT_EQ(BridgeCommandRoad::rejected(id, c.text),
                  (TessaroBridgeAcknowledgement{id, TessaroBridgeAckStatus::rejected, c.expected}));
    }
}

std::vector<CommandLedgerEntry> entriesOnDisk(const std::filesystem::path& file,
                                              std::int64_t maximumEntries) {
    return std::get<StoredLedger>(decodeLedgerFile(testing::readBytes(file), maximumEntries))
        .payload.entries;
}

TEST_F(CommandTest, BatchRunsInOrderAfterAllOfItIsReservedOnDiskAndAnswersAsOneAtATime) {
    auto coordinator = makeCoordinator();
    const auto known = midiCommand({0x90, 1, 1});
    const auto knownFailed = midiCommand({0x90, 2});
    ASSERT_EQ(coordinator->handleCommand(known), accepted(known.id));
    ASSERT_EQ(coordinator->handleCommand(knownFailed).status, TessaroBridgeAckStatus::rejected);

    const auto first = midiCommand({0x90, 10, 1});
    const auto broken = midiCommand({0x90, 11});
    const auto last = midiCommand({0x90, 12, 1});
    const std::vector batch{first, broken, first, known, knownFailed, last};
    std::vector<std::vector<CommandLedgerEntry>> onDiskAtEachEmission;
    midi->duringEmit = [&] {
        onDiskAtEachEmission.push_back(entriesOnDisk(ledgerFile(), limits.maximumEntries));
    };
    const auto answers = coordinator->handleCommands(batch);
    EXPECT_EQ(answers, (std::vector{accepted(first.id),
                                    rejected(broken.id,
                                             "The MIDI message requires 3 bytes, but contains 2."),
                                    duplicate(first.id), duplicate(known.id),
                                    rejected(knownFailed.id, failedBefore), accepted(last.id)}));
    EXPECT_EQ(midi->packets,
              (std::vector<std::vector<std::uint8_t>>{{0x90, 1, 1}, {0x90, 10, 1}, {0x90, 12, 1}}));
    ASSERT_EQ(onDiskAtEachEmission.size(), 2U);
    for (const auto& entries : onDiskAtEachEmission) {
        for (const auto* command : {&first, &broken, &last}) {
            EXPECT_NE(std::find(entries.begin(), entries.end(),
                                CommandLedgerEntry{command->id, CommandLedgerState::accepted}),
                      entries.end())
                << "reserved before anything of the batch runs";
        }
    }

    midi->duringEmit = nullptr;
    coordinator.reset();
    auto ledger = makeLedger();
    EXPECT_EQ(ledger->reserve(first.id), CommandLedgerState::executed);
    EXPECT_EQ(ledger->reserve(broken.id), CommandLedgerState::failed);
    EXPECT_EQ(ledger->reserve(last.id), CommandLedgerState::executed);
}

TEST_F(CommandTest, CommandsOfSeveralIPadsArrivingTogetherRunAsOneBatchInArrivalOrder) {
    auto coordinator = makeCoordinator();
    coordinator->start();
    main.runDue();
    auto& listener = *serverHost->transport.listeners.at(0);
    listener.boundPort = 40123;
    listener.report(TcpListener::State::ready);
    main.runDue();
    std::vector<std::shared_ptr<testing::FakeTcpConnection>> iPads;
    std::vector<TessaroBridgeCommand> commands;
    for (std::uint8_t i = 0; i < 3; ++i) {
        iPads.push_back(listener.connect());
        iPads.back()->report(TcpConnection::State::ready);
        iPads.back()->deliver(testing::frameOf(
            testing::tessaroHelloJson("ipad-" + std::to_string(i), R"(["midi"])")));
        commands.push_back(midiCommand({0x90, static_cast<std::uint8_t>(60 + i), 1}));
    }
    main.runDue();
    // How many of the three are reserved on disk as each of them is played.
    std::vector<std::size_t> reservedAtEachEmission;
    midi->duringEmit = [&] {
        const auto entries = entriesOnDisk(ledgerFile(), limits.maximumEntries);
        reservedAtEachEmission.push_back(static_cast<std::size_t>(
            std::count_if(commands.begin(), commands.end(), [&](const TessaroBridgeCommand& c) {
                return std::find(entries.begin(), entries.end(),
                                 CommandLedgerEntry{c.id, CommandLedgerState::accepted}) !=
                       entries.end();
            })));
    };
    for (std::size_t i = 0; i < 3; ++i) {
        iPads[i]->deliver(encodeFrame(TessaroBridgeMessage(commands[i])));
    }
    main.runDue();
    EXPECT_EQ(midi->packets, (std::vector<std::vector<std::uint8_t>>{
                                 {0x90, 60, 1}, {0x90, 61, 1}, {0x90, 62, 1}}));
    EXPECT_EQ(reservedAtEachEmission, (std::vector<std::size_t>{3, 3, 3}))
        << "all three reserved before the first plays";
    for (std::size_t i = 0; i < 3; ++i) {
        const auto sent = testing::messagesIn(iPads[i]->sentBytes);
        ASSERT_EQ(sent.size(), 2U);
        EXPECT_EQ(sent[1], TessaroBridgeMessage(accepted(commands[i].id)));
    }

    // The next batch waits a moment for the others, but not beyond the hold.
    midi->duringEmit = nullptr;
    iPads[1]->deliver(encodeFrame(TessaroBridgeMessage(midiCommand({0x90, 70, 1}))));
    main.runDue();
    EXPECT_EQ(midi->packets.size(), 3U);
    main.advance(BridgeCommandRoad::holdAfterBatch);
    EXPECT_EQ(midi->packets.size(), 4U);
    EXPECT_EQ(testing::messagesIn(iPads[1]->sentBytes).size(), 3U);
}

TEST_F(CommandTest, RepeatInABatchWhoseFirstCouldNotBeReservedRunsNeither) {
    auto coordinator = makeCoordinator();
    const auto earlier = midiCommand();
    ASSERT_EQ(coordinator->handleCommand(earlier), accepted(earlier.id));
    blockFile(ledgerFile().parent_path() / "command-ledger.tombstones-v1.bin");
    const auto command = midiCommand();
    EXPECT_EQ(coordinator->handleCommands(std::vector{command, command}),
              (std::vector{rejected(command.id, cannotSave), rejected(command.id, cannotSave)}));
    EXPECT_EQ(midi->packets.size(), 1u);
}

TEST_F(CommandTest, BatchLargerThanTheLedgerWindowRunsInWindowSizedParts) {
    limits.maximumEntries = 2;
    auto coordinator = makeCoordinator();
    std::vector<TessaroBridgeCommand> batch;
    std::vector<TessaroBridgeAcknowledgement> expected;
    std::vector<std::vector<std::uint8_t>> expectedPackets;
    for (std::uint8_t note = 0; note < 5; ++note) {
        batch.push_back(midiCommand({0x90, note, 1}));
        expected.push_back(accepted(batch.back().id));
        expectedPackets.push_back({0x90, note, 1});
    }
    EXPECT_EQ(coordinator->handleCommands(batch), expected);
    EXPECT_EQ(midi->packets, expectedPackets);
    EXPECT_EQ(coordinator->handleCommand(batch[4]), duplicate(batch[4].id));
    EXPECT_EQ(coordinator->handleCommand(batch[0]), rejected(batch[0].id, uncertain));
}

TEST_F(CommandTest, BatchWhoseOutcomesCannotBeSavedIsRejectedWithTheLedgerText) {
    auto coordinator = makeCoordinator();
    const auto first = midiCommand({0x90, 1, 1});
    const auto second = midiCommand({0x90, 2, 1});
    midi->duringEmit = [this] {
        if (!std::filesystem::is_directory(ledgerFile())) {
            blockFile(ledgerFile());
        }
    };
    EXPECT_EQ(coordinator->handleCommands(std::vector{first, second}),
              (std::vector{rejected(first.id, cannotSave), rejected(second.id, cannotSave)}));
    EXPECT_EQ(midi->packets.size(), 2U);
    midi->duringEmit = nullptr;
    EXPECT_EQ(coordinator->handleCommand(first), rejected(first.id, uncertain));
    EXPECT_EQ(coordinator->handleCommand(second), rejected(second.id, uncertain));
    EXPECT_EQ(midi->packets.size(), 2U);
}

} // namespace
} // namespace varnello
