#include "app/OSCSettingsForm.h"

#include "core/JsonFilePreferenceStore.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <limits>
#include <nlohmann/json.hpp>

namespace varnello {
namespace {

TEST(LeadingInteger, ReadsTheNumberAtTheStartOfTheText) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    const struct {
        const char* text;
        std::int64_t value;
    } cases[] = {
        {"9000", 9000},
        {"", 0},
        {"abc", 0},
        {"port", 0},
        {"12ab", 12},
        {"  8000", 8000},
        {"\t\n7", 7},
        {"\u00A0\u20036", 6}, // no-break space, em space
        {"+42", 42},
        {"-5", -5},
        {"- 5", 0},
        {"1 2", 1},
        {"0009000", 9000},
        {"65536", 65536},
        {"9223372036854775807", max},
        {"9223372036854775808", max},
        {"99999999999999999999999", max},
        {"-99999999999999999999999", min},
        {"\xFF"
         "12",
         0},
        {"\xC2", 0},
        {"\u0665", 0}, // Arabic-Indic five is not read as a digit
    };
    for (const auto& c : cases) {
        EXPECT_EQ(leadingInteger(c.text), c.value) << '"' << c.text << '"';
    }
}

class OSCSettingsFormTest : public ::testing::Test {
protected:
    OSCSettingsFormTest()
        : preferences(std::make_unique<JsonFilePreferenceStore>(
              file, [](const std::string& message) { ADD_FAILURE() << message; })) {
        preferences.addObserver([this](const BridgePreferences::Notification&) { ++posts; });
    }

    testing::TemporaryFolder folder;
    std::filesystem::path file = folder.path() / "TessaroBridge" / "preferences.json";
    BridgePreferences preferences;
    int posts = 0;
};

TEST_F(OSCSettingsFormTest, OpensWithTheConfiguredDestination) {
    const auto form = OSCSettingsForm::filledFrom({false, "mixer.example", 53000});
    EXPECT_EQ(form.hostText, "mixer.example");
    EXPECT_EQ(form.portText, "53000");
}

TEST_F(OSCSettingsFormTest, SaveStoresHostAndLeadingPortNumber) {
    const auto refusal = OSCSettingsForm{"  192.168.1.20 ", "8000 udp"}.save(preferences);
    EXPECT_FALSE(refusal.has_value());
    EXPECT_EQ(preferences.oscConfiguration(),
              (OSCForwardingConfiguration{true, "192.168.1.20", 8000}));
    const auto stored = nlohmann::json::parse(testing::readFile(file));
    EXPECT_EQ(stored["oscForwardingHost"], "192.168.1.20");
    EXPECT_EQ(stored["oscForwardingPort"], 8000);
    EXPECT_EQ(posts, 1);
}

TEST_F(OSCSettingsFormTest, RefusalsCarryThePreferencesTextAndStoreNothing) {
    const struct {
        const char* host;
        const char* port;
        BridgePreferencesError expected;
        const char* text;
    } cases[] = {
        {"127.0.0.1", "abc", BridgePreferencesError::invalidPort(),
         "The UDP port must be between 1 and 65535."},
        {"127.0.0.1", "", BridgePreferencesError::invalidPort(),
         "The UDP port must be between 1 and 65535."},
        {"127.0.0.1", "65536", BridgePreferencesError::invalidPort(),
         "The UDP port must be between 1 and 65535."},
        {"127.0.0.1", "-9000", BridgePreferencesError::invalidPort(),
         "The UDP port must be between 1 and 65535."},
        {"127.0.0.1", "99999999999999999999", BridgePreferencesError::invalidPort(),
         "The UDP port must be between 1 and 65535."},
        {"   ", "9000", BridgePreferencesError::invalidHost(),
         "Enter a valid host name or IP address."},
        {"", "9000", BridgePreferencesError::invalidHost(),
         "Enter a valid host name or IP address."},
        {" \t ", "letters", BridgePreferencesError::invalidHost(),
         "Enter a valid host name or IP address."},
    };
    for (const auto& c : cases) {
        const auto refusal = OSCSettingsForm{c.host, c.port}.save(preferences);
        ASSERT_TRUE(refusal.has_value()) << c.host << " " << c.port;
        EXPECT_EQ(*refusal, c.expected);
        EXPECT_EQ(refusal->message(), c.text);
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(posts, 0);
    EXPECT_EQ(preferences.oscConfiguration(), OSCForwardingConfiguration{});
}

} // namespace
} // namespace varnello
