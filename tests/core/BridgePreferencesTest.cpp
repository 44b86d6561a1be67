#include "core/BridgePreferences.h"

#include "PreferencesFixture.h"
#include "core/BridgePreferencesError.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace varnello {
namespace {

using Fixture = testing::PreferencesFixture;
const OSCForwardingConfiguration defaults{true, "127.0.0.1", 9000};

TEST_F(Fixture, StoredValuesReadAsConfiguration) {
    struct Case {
        std::optional<std::string> stored; // the file, nullopt for none
        OSCForwardingConfiguration expected;
        std::size_t problems;
    };
    const Case cases[] = {
        {std::nullopt, defaults, 0},
        {"{}", defaults, 0},
        {R"({"oscForwardingEnabled": false})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingEnabled": true})", defaults, 0},
        {R"({"oscForwardingPort": 0})", defaults, 0},
        {R"({"oscForwardingPort": -1})", defaults, 0},
        {R"({"oscForwardingPort": 70000})", defaults, 0},
        {R"({"oscForwardingPort": 65536})", defaults, 0},
        {R"({"oscForwardingPort": 65535})", {true, "127.0.0.1", 65535}, 0},
        {R"({"oscForwardingPort": 1})", {true, "127.0.0.1", 1}, 0},
        {R"({"oscForwardingPort": 18446744073709551615})", defaults, 1},
        {R"({"oscForwardingPort": -9223372036854775808})", defaults, 0},
        {R"({"oscForwardingHost": " not checked on reading "})",
         {true, " not checked on reading ", 9000},
         0},
        {R"({"oscForwardingHost": ""})", {true, "", 9000}, 0},
        {R"({"oscForwardingEnabled": false, "oscForwardingHost": "::1", "oscForwardingPort": 8000})",
         {false, "::1", 8000},
         0},
        {R"({"unknown": [1, 2], "oscForwardingHost": "studio"})", {true, "studio", 9000}, 0},
        // Hand-edited values of another type, read as a person means them.
        {R"({"oscForwardingEnabled": 0})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingEnabled": -0.0})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingEnabled": 1})", defaults, 0},
        {R"({"oscForwardingEnabled": -1})", defaults, 0},
        {R"({"oscForwardingEnabled": 0.5})", defaults, 0},
        {R"({"oscForwardingEnabled": 18446744073709551615})", defaults, 0},
        {R"({"oscForwardingEnabled": "true"})", defaults, 0},
        {R"({"oscForwardingEnabled": "TRUE"})", defaults, 0},
        {R"({"oscForwardingEnabled": "Yes"})", defaults, 0},
        {R"({"oscForwardingEnabled": "1"})", defaults, 0},
        {R"({"oscForwardingEnabled": "9 please"})", defaults, 0},
        {R"({"oscForwardingEnabled": "no"})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingEnabled": "false"})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingEnabled": "0"})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingEnabled": "01"})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingEnabled": "-1"})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingEnabled": " true"})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingEnabled": "yess"})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingEnabled": "on"})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingEnabled": ""})", {false, "127.0.0.1", 9000}, 0},
        {R"({"oscForwardingPort": "9001"})", {true, "127.0.0.1", 9001}, 0},
        {R"({"oscForwardingPort": "09001"})", {true, "127.0.0.1", 9001}, 0},
        {R"({"oscForwardingPort": "+9001"})", {true, "127.0.0.1", 9001}, 0},
        {R"({"oscForwardingPort": "65535"})", {true, "127.0.0.1", 65535}, 0},
        {R"({"oscForwardingPort": "1"})", {true, "127.0.0.1", 1}, 0},
        {R"({"oscForwardingPort": "0"})", defaults, 0},
        {R"({"oscForwardingPort": "-1"})", defaults, 0},
        {R"({"oscForwardingPort": "65536"})", defaults, 0},
        {R"({"oscForwardingPort": "99999999999999999999"})", defaults, 1},
        {R"({"oscForwardingPort": " 9001"})", defaults, 1},
        {R"({"oscForwardingPort": "9001 "})", defaults, 1},
        {R"({"oscForwardingPort": "9001.0"})", defaults, 1},
        {R"({"oscForwardingPort": "0x2329"})", defaults, 1},
        {R"({"oscForwardingPort": "+-9001"})", defaults, 1},
        {R"({"oscForwardingPort": "+"})", defaults, 1},
        {R"({"oscForwardingPort": ""})", defaults, 1},
        // Other wrong types read as defaults, each reported.
        {R"({"oscForwardingPort": 9001.5})", defaults, 1},
        {R"({"oscForwardingPort": 9001.0})", defaults, 1},
        {R"({"oscForwardingPort": null})", defaults, 1},
        {R"({"oscForwardingPort": true})", defaults, 1},
        {R"({"oscForwardingEnabled": null, "oscForwardingPort": 8000})",
         {true, "127.0.0.1", 8000},
         1},
        {R"({"oscForwardingEnabled": [false]})", defaults, 1},
        {R"({"oscForwardingHost": 42})", defaults, 1},
        {R"({"oscForwardingHost": true})", defaults, 1},
        {R"({"oscForwardingHost": ["a"], "oscForwardingEnabled": {}, "oscForwardingPort": 8000})",
         {true, "127.0.0.1", 8000},
         2},
        // Damaged files read as defaults, reported.
        {"", defaults, 1},
        {"not json", defaults, 1},
        {R"({"oscForwardingEnabled": false)", defaults, 1},
        {R"([{"oscForwardingEnabled": false}])", defaults, 1},
        {"\"oscForwardingEnabled\"", defaults, 1},
        {"{\"oscForwardingHost\": \"caf\xE9\"}", defaults, 1},
    };
    for (const auto& c : cases) {
        testing::TemporaryFolder caseFolder;
        file = caseFolder.path() / "preferences.json";
        if (c.stored) {
            testing::writeFile(file, *c.stored);
        }
        auto preferences = makePreferences();
        const auto before = recordedProblems().size();
        EXPECT_EQ(preferences->oscConfiguration(), c.expected) << c.stored.value_or("(no file)");
        EXPECT_EQ(preferences->oscConfiguration(), c.expected) << c.stored.value_or("(no file)");
        EXPECT_EQ(recordedProblems().size() - before, c.problems)
            << c.stored.value_or("(no file)") << ": reported once per problem";
    }
}

TEST_F(Fixture, SavingValidatesTheDestination) {
    using Code = BridgePreferencesError::Code;
    const std::string threeByte = "\xE5\x90\x8D"; // one character, three bytes
    std::string hostOf255Bytes;
    for (int i = 0; i < 85; ++i) {
        hostOf255Bytes += threeByte;
    }
    struct Case {
        std::string host;
        std::int64_t port;
        std::optional<Code> error;
        std::string storedHost; // when saved
    };
    const Case cases[] = {
        {"  10.0.0.5 \n", 9001, std::nullopt, "10.0.0.5"},
        {"\r\n\tstage.example\n\t ", 1, std::nullopt, "stage.example"},
        {"::1", 65535, std::nullopt, "::1"},
        {"not-checked..name", 9000, std::nullopt, "not-checked..name"},
        {std::string(255, 'a'), 9000, std::nullopt, std::string(255, 'a')},
        {hostOf255Bytes, 9000, std::nullopt, hostOf255Bytes},
        {std::string(256, 'a'), 9000, Code::invalidHost, ""},
        {hostOf255Bytes + "a", 9000, Code::invalidHost, ""},
        {" " + std::string(255, 'a') + " ", 9000, std::nullopt, std::string(255, 'a')},
        {"studio mac", 9000, Code::invalidHost, ""},
        {"studio\tmac", 9000, Code::invalidHost, ""},
        {"studio\xC2\xA0mac", 9000, Code::invalidHost, ""},     // no-break space
        {"studio\xE2\x80\x8Bmac", 9000, Code::invalidHost, ""}, // zero-width space, Cf
        {"studio\x01mac", 9000, Code::invalidHost, ""},
        {std::string("studio\0mac", 10), 9000, Code::invalidHost, ""},
        {"caf\xE9", 9000, Code::invalidHost, ""},
        {"", 9000, Code::invalidHost, ""},
        {" \t\n ", 9000, Code::invalidHost, ""},
        {"10.0.0.5", 0, Code::invalidPort, ""},
        {"10.0.0.5", 65536, Code::invalidPort, ""},
        {"10.0.0.5", -1, Code::invalidPort, ""},
        {"10.0.0.5", INT64_MIN, Code::invalidPort, ""},
        {"bad host", 0, Code::invalidHost, ""},
        {"", 65536, Code::invalidHost, ""},
    };
    for (const auto& c : cases) {
        testing::TemporaryFolder caseFolder;
        file = caseFolder.path() / "preferences.json";
        auto preferences = makePreferences();
        notifications.clear();
        if (!c.error) {
            preferences->saveOSCDestination(c.host, c.port);
            EXPECT_EQ(preferences->oscConfiguration(),
                      (OSCForwardingConfiguration{true, c.storedHost,
                                                  static_cast<std::uint16_t>(c.port)}))
                << c.host;
            EXPECT_EQ(notifications.size(), 1u) << c.host;
            continue;
        }
        try {
            preferences->saveOSCDestination(c.host, c.port);
            ADD_FAILURE() << c.host << " " << c.port << ": saved";
        } catch (const BridgePreferencesError& error) {
            EXPECT_EQ(error.code(), *c.error) << c.host << " " << c.port;
        }
        EXPECT_FALSE(std::filesystem::exists(file)) << c.host << ": nothing may be stored";
        EXPECT_TRUE(notifications.empty()) << c.host;
    }
}

TEST_F(Fixture, ErrorTexts) {
    struct Case {
        BridgePreferencesError error;
        std::string text;
    };
    const Case cases[] = {
        {BridgePreferencesError::invalidHost(), "Enter a valid host name or IP address."},
        {BridgePreferencesError::invalidPort(), "The UDP port must be between 1 and 65535."},
        {BridgePreferencesError::saveFailed(28),
         "Could not save the Bridge preferences (error 28)."},
        {BridgePreferencesError::invalidIPadPort("\"abc\""),
         "The preference \u2018iPadPort\u2019 must be a TCP port between 1 and 65535, not "
         "\u2018\"abc\"\u2019."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.message(), c.text);
        EXPECT_STREQ(c.error.what(), c.text.c_str());
    }
    EXPECT_FALSE(BridgePreferencesError::saveFailed(28) == BridgePreferencesError::saveFailed(5));
}

TEST_F(Fixture, TheIPadPortIsReadOrRefusedNeverReplaced) {
    struct Case {
        std::optional<std::string> stored; // the file, nullopt for none
        std::optional<std::uint16_t> port;
        std::optional<std::string> refused; // the value the error names
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt},
        {"{}", std::nullopt, std::nullopt},
        {R"({"oscForwardingPort": 8000})", std::nullopt, std::nullopt},
        {R"({"iPadPort": 54885})", 54885, std::nullopt},
        {R"({"iPadPort": 1})", 1, std::nullopt},
        {R"({"iPadPort": 65535})", 65535, std::nullopt},
        {R"({"iPadPort": 0})", std::nullopt, "0"},
        {R"({"iPadPort": 65536})", std::nullopt, "65536"},
        {R"({"iPadPort": 4294967297})", std::nullopt, "4294967297"},
        {R"({"iPadPort": -1})", std::nullopt, "-1"},
        {R"({"iPadPort": -54885})", std::nullopt, "-54885"},
        {R"({"iPadPort": "54885"})", std::nullopt, "\"54885\""},
        {R"({"iPadPort": "fixed"})", std::nullopt, "\"fixed\""},
        {R"({"iPadPort": 54885.0})", std::nullopt, "54885.0"},
        {R"({"iPadPort": 5e4})", std::nullopt, "50000.0"},
        {R"({"iPadPort": null})", std::nullopt, "null"},
        {R"({"iPadPort": true})", std::nullopt, "true"},
        {R"({"iPadPort": [54885]})", std::nullopt, "[54885]"},
        // A damaged file has no keys: its damage is reported and the defaults apply.
        {"not json", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        testing::TemporaryFolder caseFolder;
        file = caseFolder.path() / "preferences.json";
        if (c.stored) {
            testing::writeFile(file, *c.stored);
        }
        auto preferences = makePreferences();
        const auto label = c.stored.value_or("(no file)");
        if (!c.refused) {
            EXPECT_EQ(preferences->iPadPort(), c.port) << label;
            continue;
        }
        try {
            const auto port = preferences->iPadPort();
            ADD_FAILURE() << label << ": read as " << (port ? std::to_string(*port) : "absent");
        } catch (const BridgePreferencesError& error) {
            EXPECT_EQ(error, BridgePreferencesError::invalidIPadPort(*c.refused)) << label;
            EXPECT_NE(error.message().find("\u2018iPadPort\u2019"), std::string::npos) << label;
            EXPECT_NE(error.message().find("\u2018" + *c.refused + "\u2019"), std::string::npos)
                << label;
        }
        // Refusing is not reading: the OSC settings beside it are still there.
        EXPECT_EQ(preferences->oscConfiguration(), defaults) << label;
    }
}

TEST_F(Fixture, TheBridgesWritesKeepTheKeysItDoesNotOwn) {
    testing::writeFile(file, R"({"iPadPort": 54885, "laterSetting": {"nested": [1, "two"]}})");
    auto preferences = makePreferences();
    preferences->saveOSCDestination("stage.example", 7000);
    preferences->setOSCForwardingEnabled(false);
    EXPECT_EQ(nlohmann::json::parse(testing::readFile(file)),
              nlohmann::json::parse(R"({"iPadPort": 54885,
                 "laterSetting": {"nested": [1, "two"]}, "oscForwardingEnabled": false,
                 "oscForwardingHost": "stage.example", "oscForwardingPort": 7000})"));
    EXPECT_EQ(preferences->iPadPort(), 54885);
}

TEST_F(Fixture, SavingKeepsTheFlagAndTogglingKeepsTheDestination) {
    auto preferences = makePreferences();
    preferences->setOSCForwardingEnabled(false);
    preferences->saveOSCDestination("stage.example", 7000);
    EXPECT_EQ(preferences->oscConfiguration(),
              (OSCForwardingConfiguration{false, "stage.example", 7000}));
    preferences->setOSCForwardingEnabled(true);
    EXPECT_EQ(preferences->oscConfiguration(),
              (OSCForwardingConfiguration{true, "stage.example", 7000}));
    preferences->setOSCForwardingEnabled(!preferences->oscConfiguration().isEnabled);
    EXPECT_EQ(preferences->oscConfiguration(),
              (OSCForwardingConfiguration{false, "stage.example", 7000}));

    // The file holds the three keys with JSON boolean, string and integer values.
    EXPECT_EQ(nlohmann::json::parse(testing::readFile(file)),
              nlohmann::json::parse(R"({"oscForwardingEnabled": false,
                 "oscForwardingHost": "stage.example", "oscForwardingPort": 7000})"));
}

TEST_F(Fixture, EachWriteNotifiesOnceWithItsSender) {
    auto preferences = makePreferences();
    preferences->saveOSCDestination("a.example", 1000);
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_EQ(notifications[0].name, "TessaroBridgePreferencesDidChange");
    EXPECT_EQ(notifications[0].object, preferences.get());
    preferences->setOSCForwardingEnabled(false);
    preferences->setOSCForwardingEnabled(false);
    ASSERT_EQ(notifications.size(), 3u);
    EXPECT_EQ(notifications[2].object, preferences.get());
    EXPECT_THROW(preferences->saveOSCDestination("a b", 1000), BridgePreferencesError);
    EXPECT_EQ(notifications.size(), 3u);
}

TEST_F(Fixture, ObserversSeeTheNewValuesAndMayLeave) {
    auto preferences = makePreferences();
    std::vector<OSCForwardingConfiguration> seen;
    BridgePreferences::ObserverToken second = 0;
    const auto first = preferences->addObserver([&](const BridgePreferences::Notification& n) {
        seen.push_back(n.object->oscConfiguration());
        preferences->removeObserver(second);
    });
    second = preferences->addObserver(
        [&](const BridgePreferences::Notification&) { ADD_FAILURE() << "removed observer ran"; });
    preferences->saveOSCDestination("b.example", 2000);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], (OSCForwardingConfiguration{true, "b.example", 2000}));
    preferences->removeObserver(first);
    preferences->setOSCForwardingEnabled(false);
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(Fixture, ValuesSurviveANewPreferencesObject) {
    {
        auto preferences = makePreferences();
        preferences->saveOSCDestination("persisted.example", 4321);
        preferences->setOSCForwardingEnabled(false);
    }
    auto reopened = makePreferences();
    EXPECT_EQ(reopened->oscConfiguration(),
              (OSCForwardingConfiguration{false, "persisted.example", 4321}));
    EXPECT_EQ(testing::namesIn(file.parent_path()), std::set<std::string>{"preferences.json"})
        << "no temporary file may stay behind";
}

TEST_F(Fixture, AFailedWriteIsReportedAndChangesNothing) {
    testing::writeFile(folder.path() / "blocked", "a file where the folder should be");
    file = folder.path() / "blocked" / "TessaroBridge" / "preferences.json";
    auto preferences = makePreferences();
    try {
        preferences->saveOSCDestination("a.example", 1000);
        ADD_FAILURE() << "saved";
    } catch (const BridgePreferencesError& error) {
        EXPECT_EQ(error, BridgePreferencesError::saveFailed(ENOTDIR));
        EXPECT_EQ(error.message(), "Could not save the Bridge preferences (error 20).");
    }
    EXPECT_THROW(preferences->setOSCForwardingEnabled(false), BridgePreferencesError);
    EXPECT_TRUE(notifications.empty());
    EXPECT_EQ(preferences->oscConfiguration(), defaults);
}

} // namespace
} // namespace varnello
