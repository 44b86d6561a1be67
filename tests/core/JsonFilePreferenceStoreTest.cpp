#include "core/JsonFilePreferenceStore.h"

#include "PreferencesFixture.h"
#include "core/BridgePreferencesError.h"

#include <atomic>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <thread>

namespace varnello {
namespace {

using Fixture = testing::PreferencesFixture;
const OSCForwardingConfiguration defaults{true, "127.0.0.1", 9000};

nlohmann::json fileJSON(const std::filesystem::path& file) {
    return nlohmann::json::parse(testing::readFile(file));
}

TEST_F(Fixture, AWriteKeepsEveryOtherKeyOfTheFile) {
    const auto original = nlohmann::json::parse(R"({
        "oscForwardingPort": "written by hand",
        "oscForwardingHost": "kept.example",
        "futureSetting": {"nested": [1, 2.5, null]}
    })");
    testing::writeFile(file, original.dump());
    auto preferences = makePreferences();
    preferences->setOSCForwardingEnabled(false);

    auto expected = original;
    expected["oscForwardingEnabled"] = false;
    EXPECT_EQ(fileJSON(file), expected);
    EXPECT_EQ(preferences->oscConfiguration(),
              (OSCForwardingConfiguration{false, "kept.example", 9000}));
}

TEST_F(Fixture, ADamagedFileIsKeptAsideBeforeANewOneIsWritten) {
    const std::string damaged[] = {"{\"oscForwardingHost\": \"half", "[\"first\"]"};
    const std::filesystem::path keptNames[] = {file.string() + ".damaged",
                                               file.string() + ".damaged-2"};
    auto preferences = makePreferences();
    for (std::size_t i = 0; i < std::size(damaged); ++i) {
        testing::writeFile(file, damaged[i]);
        EXPECT_EQ(preferences->oscConfiguration(), defaults);
        const auto problemsBefore = recordedProblems().size();

        preferences->saveOSCDestination("fresh.example", 5000 + static_cast<int>(i));

        EXPECT_EQ(testing::readFile(keptNames[i]), damaged[i]);
        EXPECT_EQ(fileJSON(file), (nlohmann::json{{"oscForwardingHost", "fresh.example"},
                                                  {"oscForwardingPort", 5000 + i}}));
        const auto problems = recordedProblems();
        ASSERT_EQ(problems.size(), problemsBefore + 1);
        EXPECT_NE(problems.back().find(keptNames[i].string()), std::string::npos)
            << problems.back();
    }
    EXPECT_EQ(testing::readFile(keptNames[0]), damaged[0]) << "an older copy is never replaced";
}

TEST_F(Fixture, AFileThatCannotBeKeptAsideIsNotOverwritten) {
    std::filesystem::create_directories(file); // a folder where the file should be
    auto preferences = makePreferences();
    EXPECT_EQ(preferences->oscConfiguration(), defaults);
    EXPECT_THROW(preferences->setOSCForwardingEnabled(false), BridgePreferencesError);
    EXPECT_TRUE(std::filesystem::is_directory(file));
    EXPECT_TRUE(notifications.empty());
}

TEST_F(Fixture, ChangesMadeToTheFileOutsideAreRead) {
    auto preferences = makePreferences();
    EXPECT_EQ(preferences->oscConfiguration(), defaults);
    const std::string versions[] = {
        R"({"oscForwardingPort": 1234})",
        R"({"oscForwardingPort": 4321, "oscForwardingHost": "edited.example"})",
        R"({"oscForwardingPort": 4321})",
    };
    const OSCForwardingConfiguration expected[] = {
        {true, "127.0.0.1", 1234},
        {true, "edited.example", 4321},
        {true, "127.0.0.1", 4321},
    };
    for (std::size_t i = 0; i < std::size(versions); ++i) {
        testing::writeFile(file, versions[i]);
        EXPECT_EQ(preferences->oscConfiguration(), expected[i]) << versions[i];
    }
    std::filesystem::remove(file);
    EXPECT_EQ(preferences->oscConfiguration(), defaults);
}

TEST_F(Fixture, ProblemsAreReportedOncePerVersionOfTheFile) {
    auto preferences = makePreferences();
    testing::writeFile(file, "garbage");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(preferences->oscConfiguration(), defaults);
    }
    ASSERT_EQ(recordedProblems().size(), 1u);
    EXPECT_NE(recordedProblems()[0].find("not valid JSON"), std::string::npos);

    testing::writeFile(file, R"({"oscForwardingPort": "9001 on stage", "oscForwardingHost": 7})");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(preferences->oscConfiguration(), defaults);
    }
    const auto problems = recordedProblems();
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_NE(problems[1].find("oscForwardingHost"), std::string::npos) << problems[1];
    EXPECT_NE(problems[2].find("oscForwardingPort"), std::string::npos) << problems[2];
}

TEST_F(Fixture, AnOversizedFileReadsAsDefaults) {
    testing::writeFile(file,
                       "{\"oscForwardingHost\": \"" + std::string(2 * 1024 * 1024, 'a') + "\"}");
    auto preferences = makePreferences();
    EXPECT_EQ(preferences->oscConfiguration(), defaults);
    EXPECT_EQ(recordedProblems().size(), 1u);
}

// Readers on the server queue must always see one whole saved destination, never a
// host from one save with the port of another, nor a torn file. Run it under the
// sanitizer build as well.
TEST_F(Fixture, ReadsFromAnotherThreadWhileTheMainThreadWrites) {
    auto preferences = makePreferences();
    const OSCForwardingConfiguration destinations[] = {
        {true, "first.example", 1111},
        {true, "second.example", 2222},
        {false, "second.example", 2222},
    };
    preferences->saveOSCDestination("first.example", 1111);
    std::atomic<bool> writing = true;
    std::atomic<int> reads = 0;
    std::atomic<int> inconsistent = 0;
    std::thread reader([&] {
        while (writing.load() || reads.load() == 0) {
            const auto configuration = preferences->oscConfiguration();
            if (std::find(std::begin(destinations), std::end(destinations), configuration) ==
                std::end(destinations)) {
                ++inconsistent;
            }
            ++reads;
        }
    });
    for (int round = 0; round < 100; ++round) {
        preferences->saveOSCDestination("second.example", 2222);
        preferences->setOSCForwardingEnabled(false);
        preferences->setOSCForwardingEnabled(true);
        preferences->saveOSCDestination("first.example", 1111);
    }
    writing = false;
    reader.join();
    EXPECT_EQ(inconsistent.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_TRUE(recordedProblems().empty());
    EXPECT_EQ(notifications.size(), 401u);
}

} // namespace
} // namespace varnello
