#include "core/FallbackMachineID.h"

#include "IdentityFakes.h"
#include "core/BridgeIdentityError.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

using testing::ScriptedKeyStore;
constexpr auto notFound = FallbackKeyStore::itemNotFound;
constexpr auto duplicate = FallbackKeyStore::duplicateItem;

TEST(FallbackMachineID, StoredItemIsReturnedUnchanged) {
    ScriptedKeyStore store({{0, " Mixed-Case ID\n"}}, {-EIO});
    EXPECT_EQ(fallbackMachineID(store), " Mixed-Case ID\n");
    EXPECT_TRUE(store.added.empty());
}

TEST(FallbackMachineID, MissingItemIsCreatedAsLowerCaseUUID) {
    ScriptedKeyStore store({{notFound, {}}}, {0});
    const auto created = fallbackMachineID(store);
    ASSERT_EQ(store.added, std::vector<std::string>{created});
    EXPECT_EQ(created.size(), 36u);
    EXPECT_EQ(created.find_first_not_of("0123456789abcdef-"), std::string::npos) << created;
}

TEST(FallbackMachineID, DuplicateAnswerSearchesAgainAndTakesTheOtherItem) {
    ScriptedKeyStore store({{notFound, {}}, {0, "made-by-another-process"}}, {duplicate});
    EXPECT_EQ(fallbackMachineID(store), "made-by-another-process");
    EXPECT_EQ(store.findCount, 2);
    EXPECT_EQ(store.added.size(), 1u);
}

TEST(FallbackMachineID, RepeatedDuplicateAnswersAreBounded) {
    ScriptedKeyStore store({{notFound, {}}}, {duplicate});
    try {
        fallbackMachineID(store);
        ADD_FAILURE() << "no error";
    } catch (const BridgeIdentityError& error) {
        EXPECT_EQ(error, BridgeIdentityError::keychain(duplicate));
    }
    EXPECT_EQ(static_cast<int>(store.added.size()), maximumDuplicateAnswers);
}

TEST(FallbackMachineID, StoreFailuresCarryTheirStatus) {
    struct Case {
        std::string name;
        ScriptedKeyStore::FindResult found;
        std::int32_t addStatus;
        std::int32_t reported;
    };
    const Case cases[] = {
        {"search fails", {-EACCES, {}}, 0, -EACCES},
        {"add fails", {notFound, {}}, -ENOSPC, -ENOSPC},
        {"empty item", {0, ""}, 0, 0},
        {"item not UTF-8", {0, "\xFF\xFE"}, 0, 0},
    };
    for (const auto& c : cases) {
        ScriptedKeyStore store({c.found}, {c.addStatus});
        try {
            fallbackMachineID(store);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const BridgeIdentityError& error) {
            EXPECT_EQ(error, BridgeIdentityError::keychain(c.reported)) << c.name;
        }
    }
}

} // namespace
} // namespace varnello
