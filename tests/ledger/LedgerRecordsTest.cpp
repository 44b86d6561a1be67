#include "ledger/CommandLedgerError.h"
#include "ledger/CommandLedgerLockError.h"
#include "ledger/CommandLedgerState.h"

#include <gtest/gtest.h>
#include <string>

namespace varnello {
namespace {

TEST(CommandLedgerStateTest, RawValuesRoundTrip) {
    const struct {
        CommandLedgerState state;
        const char* raw;
    } cases[] = {
        {CommandLedgerState::accepted, "accepted"},
        {CommandLedgerState::executed, "executed"},
        {CommandLedgerState::failed, "failed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rawValue(c.state), c.raw);
        EXPECT_EQ(commandLedgerStateFromRawValue(c.raw), c.state) << c.raw;
    }
}

TEST(CommandLedgerStateTest, OtherTextsAreNoState) {
    for (const char* text : {"Executed", "ACCEPTED", "failed ", "", "rejected", "executed\n"}) {
        EXPECT_EQ(commandLedgerStateFromRawValue(text), std::nullopt) << text;
    }
}

TEST(CommandLedgerErrorTest, EveryCaseHasItsExactMessage) {
    const struct {
        CommandLedgerError error;
        CommandLedgerError::Code code;
        const char* message;
    } cases[] = {
        {CommandLedgerError::unsupportedOrDamagedFormat(),
         CommandLedgerError::Code::unsupportedOrDamagedFormat,
         "The command ledger has an unknown or corrupted format."},
        {CommandLedgerError::unknownReservation(), CommandLedgerError::Code::unknownReservation,
         "The Bridge command is not reserved."},
        {CommandLedgerError::legacyHistoryMayBeIncomplete(),
         CommandLedgerError::Code::legacyHistoryMayBeIncomplete,
         "The legacy command ledger reached its retention limit; earlier command IDs may be "
         "missing."},
        {CommandLedgerError::saturated(), CommandLedgerError::Code::saturated,
         "The command ledger reached its safe capacity limit."},
        {CommandLedgerError::storageUnavailable(), CommandLedgerError::Code::storageUnavailable,
         "Could not save the command ledger safely."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.code(), c.code);
        EXPECT_EQ(c.error.message(), c.message);
        EXPECT_EQ(std::string(c.error.what()), c.message);
    }
    EXPECT_EQ(CommandLedgerError::saturated(), CommandLedgerError::saturated());
    EXPECT_FALSE(CommandLedgerError::saturated() == CommandLedgerError::storageUnavailable());
}

TEST(CommandLedgerLockErrorTest, SaysAnotherBridgeUsesTheLedger) {
    const CommandLedgerLockError error = CommandLedgerLockError::alreadyInUse();
    EXPECT_EQ(error.code(), CommandLedgerLockError::Code::alreadyInUse);
    EXPECT_EQ(error.message(), "Varnello Bridge is already running: another Varnello Bridge is "
                               "already using the command ledger.");
    EXPECT_EQ(std::string(error.what()), error.message());
}

} // namespace
} // namespace varnello
