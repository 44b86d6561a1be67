#include "core/BridgeIdentity.h"

#include "IdentityFakes.h"
#include "ScopedEnvironment.h"
#include "core/BridgeIdentityError.h"
#include "core/FileFallbackKeyStore.h"
#include "core/LinuxMachineIDSource.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>

namespace varnello {
namespace {

using testing::FixedHostNames;
using testing::FixedMachineID;
using testing::ScriptedKeyStore;
using testing::TemporaryFolder;

// sha256sum of "orvane.TessaroBridgeID.v1:" followed by the machine ID.
const std::string upperMixedID = "ff0a38b4725af202b384ee0fa4b993426b7b267914bd792581685272f8eefea5";
const std::string lowerID = "5006f229b4f11fd11667ccafbc2e221e8a28dedab8365f95e3f6eab27800ad47";

ScriptedKeyStore untouchableStore() {
    return ScriptedKeyStore({{-EIO, {}}}, {-EIO});
}

TEST(BridgeIdentity, IdIsSha256OfPrefixAndMachineIDWithCaseKept) {
    struct Case {
        std::string machineID;
        std::string id;
    };
    const Case cases[] = {
        {"ABCdef-123", upperMixedID},
        {"abcdef-123", lowerID},
        {"4c4c4544-0042-3510-8051-b4c04f4e4b32",
         "00e63c52db34af36d59e35a288a3535c28c3a3b03bb26d68cbc4a54e59a86122"},
    };
    for (const auto& c : cases) {
        FixedMachineID machineIDs(c.machineID);
        auto store = untouchableStore();
        FixedHostNames names("Studio", "studio");
        const auto identity = BridgeIdentity::loadOrCreate(machineIDs, store, names);
        EXPECT_EQ(identity.id, c.id) << c.machineID;
        EXPECT_EQ(identity.displayName, "Studio");
        EXPECT_EQ(store.findCount, 0) << "the key store is used only without a machine ID";
    }
}

TEST(BridgeIdentity, MachineIDFileWithTrailingNewlineHashesAsWithout) {
    TemporaryFolder folder;
    const auto bare = folder.path() / "bare";
    const auto withNewline = folder.path() / "with-newline";
    testing::writeFile(bare, "ABCdef-123");
    testing::writeFile(withNewline, "ABCdef-123\n");
    for (const auto& file : {bare, withNewline}) {
        LinuxMachineIDSource machineIDs({file});
        auto store = untouchableStore();
        FixedHostNames names(std::nullopt, "studio");
        EXPECT_EQ(BridgeIdentity::loadOrCreate(machineIDs, store, names).id, upperMixedID) << file;
    }
}

TEST(BridgeIdentity, EmptyOrMissingMachineIDUsesTheFallbackStore) {
    const std::optional<std::string> machineIDs[] = {std::nullopt, "", " \n\t\r\n"};
    for (const auto& machineID : machineIDs) {
        FixedMachineID source(machineID);
        ScriptedKeyStore store({{0, "abcdef-123"}}, {-EIO});
        FixedHostNames names(std::nullopt, "studio");
        const auto identity = BridgeIdentity::loadOrCreate(source, store, names);
        EXPECT_EQ(identity.id, lowerID) << machineID.value_or("(none)");
        EXPECT_EQ(store.findCount, 1);
    }
}

TEST(BridgeIdentity, FirstStartCreatesTheFallbackFileAndTheNextStartKeepsTheId) {
    TemporaryFolder folder;
    const auto file = folder.path() / "data" / "TessaroBridge" / "fallback-machine-id";
    FixedMachineID noMachineID(std::nullopt);
    FixedHostNames names(std::nullopt, "studio");

    FileFallbackKeyStore firstStore(file);
    const auto first = BridgeIdentity::loadOrCreate(noMachineID, firstStore, names);

    const auto stored = testing::readFile(file);
    EXPECT_TRUE(std::regex_match(
        stored, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << stored;
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(testing::namesIn(file.parent_path()), std::set<std::string>{"fallback-machine-id"})
        << "no temporary file may stay behind";

    FixedMachineID stillNoMachineID("");
    FileFallbackKeyStore secondStore(file);
    const auto second = BridgeIdentity::loadOrCreate(stillNoMachineID, secondStore, names);
    EXPECT_EQ(second, first);
    EXPECT_EQ(testing::readFile(file), stored);

    FixedMachineID sameAsStored(stored);
    auto store = untouchableStore();
    EXPECT_EQ(BridgeIdentity::loadOrCreate(sameAsStored, store, names).id, first.id)
        << "the id is the hash of the stored text";
}

TEST(BridgeIdentity, UnusableFallbackFilesFailWithTheKeyStoreStatus) {
    struct Case {
        std::string name;
        std::function<void(const std::filesystem::path& file)> prepare;
        std::string message;
    };
    const Case cases[] = {
        {"empty file", [](const auto& file) { testing::writeFile(file, ""); },
         "Could not save the stable Bridge identity (Keychain 0)."},
        {"not UTF-8", [](const auto& file) { testing::writeFile(file, "caf\xE9"); },
         "Could not save the stable Bridge identity (Keychain 0)."},
        {"folder where the file should be",
         [](const auto& file) { std::filesystem::create_directories(file); },
         "Could not save the stable Bridge identity (Keychain -21)."},
        {"file where the folder should be",
         [](const auto& file) { testing::writeFile(file.parent_path(), "x"); },
         "Could not save the stable Bridge identity (Keychain -20)."},
        // Not found for reading but existing for creation, every time: must not spin.
        {"dangling symbolic link",
         [](const auto& file) {
             std::filesystem::create_directories(file.parent_path());
             std::filesystem::create_symlink(file.parent_path() / "nowhere", file);
         },
         "Could not save the stable Bridge identity (Keychain -17)."},
    };
    for (const auto& c : cases) {
        TemporaryFolder folder;
        const auto file = folder.path() / "TessaroBridge" / "fallback-machine-id";
        c.prepare(file);
        FixedMachineID noMachineID(std::nullopt);
        FileFallbackKeyStore store(file);
        FixedHostNames names(std::nullopt, "studio");
        try {
            BridgeIdentity::loadOrCreate(noMachineID, store, names);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const BridgeIdentityError& error) {
            EXPECT_EQ(error.code(), BridgeIdentityError::Code::keychain) << c.name;
            EXPECT_EQ(error.message(), c.message) << c.name;
            EXPECT_STREQ(error.what(), c.message.c_str()) << c.name;
        }
    }
}

TEST(BridgeIdentity, ErrorsCompareByCaseAndStatus) {
    EXPECT_EQ(BridgeIdentityError::keychain(-2), BridgeIdentityError::keychain(-2));
    EXPECT_FALSE(BridgeIdentityError::keychain(-2) == BridgeIdentityError::keychain(0));
    EXPECT_EQ(BridgeIdentityError::keychain(-2147483647 - 1).message(),
              "Could not save the stable Bridge identity (Keychain -2147483648).");
}

TEST(BridgeIdentity, ThisMachinesSourcesGiveAStableIdentity) {
    TemporaryFolder folder;
    testing::ScopedEnvironment environment;
    // Should this machine have no machine ID, the fallback item goes here.
    environment.set("XDG_DATA_HOME", folder.path().c_str());
    const auto first = BridgeIdentity::loadOrCreate();
    EXPECT_TRUE(std::regex_match(first.id, std::regex("[0-9a-f]{64}"))) << first.id;
    EXPECT_FALSE(first.displayName.empty());
    EXPECT_LE(first.displayName.size(), 80u);
    EXPECT_EQ(BridgeIdentity::loadOrCreate(), first);
}

} // namespace
} // namespace varnello
