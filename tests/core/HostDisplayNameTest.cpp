#include "core/HostDisplayName.h"

#include "IdentityFakes.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

std::string repeated(std::string_view piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

TEST(HostDisplayName, FollowsTheNamingRules) {
    const std::string euro = "\xE2\x82\xAC";           // three bytes
    const std::string eAcute = "e\xCC\x81";            // e + combining acute: one character
    const std::string zeroWidthSpace = "\xE2\x80\x8B"; // general category Cf
    struct Case {
        std::string name;
        std::optional<std::string> localized;
        std::string host;
        std::string expected;
    };
    const Case cases[] = {
        {"localized name wins", "Ann's Studio", "ann-studio", "Ann's Studio"},
        {"host name without a localized one", std::nullopt, "ann-studio", "ann-studio"},
        {"surrounding white space trimmed", " \t Stage Left\n ", "h", "Stage Left"},
        {"only spaces and tabs", " \t  \t", "h", "Mac"},
        {"nothing at all", std::nullopt, "", "Mac"},
        {"only control characters", "\x01\x7F" + zeroWidthSpace, "h", "Mac"},
        {"embedded line feed", "Stage\nLeft", "h", "StageLeft"},
        {"embedded zero-width character", "Sta" + zeroWidthSpace + "ge", "h", "Stage"},
        {"control characters removed before trimming", "\x01 Stage \x02", "h", "Stage"},
        {"100 ASCII letters", std::string(100, 'a'), "h", std::string(80, 'a')},
        {"exactly 80 bytes", std::string(80, 'b'), "h", std::string(80, 'b')},
        {"30 three-byte characters", repeated(euro, 30), "h", repeated(euro, 26)},
        {"a cluster is never split", std::string(79, 'a') + eAcute, "h", std::string(79, 'a')},
        {"the cut may leave white space", std::string(78, 'a') + " " + euro, "h",
         std::string(78, 'a') + " "},
        {"ill-formed UTF-8 is replaced", "Caf\xE9", "h", "Caf\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        testing::FixedHostNames names(c.localized, c.host);
        EXPECT_EQ(hostDisplayName(names), c.expected) << c.name;
    }
}

TEST(HostDisplayName, VeryLongNamesStayWithin80Bytes) {
    // One character of 11 bytes: a letter with five combining acute accents.
    const std::string accented = "a" + repeated("\xCC\x81", 5);
    const std::string names[] = {repeated(accented, 100000), std::string(1000000, 'x')};
    for (const auto& name : names) {
        testing::FixedHostNames source(name, "h");
        const auto displayName = hostDisplayName(source);
        EXPECT_LE(displayName.size(), 80u);
        EXPECT_EQ(name.substr(0, displayName.size()), displayName);
        EXPECT_GT(displayName.size(), 80u - accented.size());
    }
}

} // namespace
} // namespace varnello
