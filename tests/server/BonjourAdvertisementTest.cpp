#include "server/BonjourAdvertisement.h"

#include <gtest/gtest.h>
#include <string>

namespace varnello {
namespace {

const std::string id = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string prefix = "Varnello Bridge \u2013 "; // 20 bytes

TEST(BonjourAdvertisementTest, ServiceNameIsCutToFiftyBytesByWholeCharacters) {
    struct Case {
        const char* what;
        std::string displayName;
        std::string expected;
    };
    const std::string sixty(60, 'a');
    const Case cases[] = {
        {"short name is kept", "Podium", prefix + "Podium 01234567"},
        {"60 ASCII characters keep 30", sixty, prefix + std::string(30, 'a') + " 01234567"},
        {"exactly 50 bytes is kept", std::string(30, 'b'),
         prefix + std::string(30, 'b') + " 01234567"},
        {"51 bytes loses one", std::string(31, 'b'), prefix + std::string(30, 'b') + " 01234567"},
        // 29 ASCII bytes + "é" (2 bytes) = 51 bytes: the é goes whole.
        {"two-byte character is not split", std::string(29, 'c') + "\u00e9",
         prefix + std::string(29, 'c') + " 01234567"},
        // 28 ASCII bytes + "€" (3 bytes) = 51 bytes: the € goes whole.
        {"three-byte character is not split", std::string(28, 'd') + "\u20ac",
         prefix + std::string(28, 'd') + " 01234567"},
        // A flag is one character of 8 bytes: 26 + 8 = 54, the flag goes whole.
        {"grapheme cluster goes whole", std::string(26, 'e') + "\U0001F1F3\U0001F1F1",
         prefix + std::string(26, 'e') + " 01234567"},
        // e + combining acute (3 bytes together) at the edge: 27 + 3 + 1 = 51.
        {"combining sequence goes whole", std::string(27, 'f') + "e\u0301x",
         prefix + std::string(27, 'f') + "e\u0301" + " 01234567"},
        {"empty display name", "", prefix + " 01234567"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto name = bonjourServiceName(c.displayName, id);
        EXPECT_EQ(name, c.expected);
        EXPECT_LE(name.size(), 50u + 1u + 8u);
    }
}

TEST(BonjourAdvertisementTest, TxtRecordHoldsExactlyTheSixKeys) {
    const std::string longName(80, 'z');
    struct Case {
        std::string displayName;
    };
    for (const Case& c : {Case{"Podium links"}, Case{longName}, Case{"B\u00fchne \u2013 1"}}) {
        const DnsTxtRecord expected{
            {"role", "bridge"},      {"protocol", "1"}, {"id", id},
            {"name", c.displayName}, {"midi", "1"},     {"osc", "1"},
        };
        EXPECT_EQ(bonjourTxtRecord(c.displayName, id), expected);
    }
}

} // namespace
} // namespace varnello
