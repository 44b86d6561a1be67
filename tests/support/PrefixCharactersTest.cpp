#include "support/PrefixCharacters.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

struct Case {
    std::string text;
    std::size_t n;
    std::string prefix;
};

TEST(PrefixCharacters, CutsWholeGraphemeClusters) {
    const std::string familyEmoji =
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    const std::string eAcute = "e\xCC\x81"; // e + combining acute
    const std::string flag = "\xF0\x9F\x87\xB3\xF0\x9F\x87\xB1";
    const Case cases[] = {
        {"hello", 3, "hel"},
        {"hello", 0, ""},
        {"hi", 5, "hi"},
        {"", 2, ""},
        {eAcute + "x", 1, eAcute},
        {familyEmoji + familyEmoji, 1, familyEmoji},
        {flag + flag + "a", 2, flag + flag},
        {"\r\nx", 1, "\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(prefixCharacters(c.text, c.n), c.prefix) << c.text << " " << c.n;
    }
}

TEST(PrefixCharacters, CountsCharactersNotBytes) {
    std::string emoji;
    for (int i = 0; i < 255; ++i) {
        emoji += "\xF0\x9F\x98\x80";
    }
    EXPECT_EQ(characterCount(emoji), 255u);
    EXPECT_EQ(prefixCharacters(emoji, 255), emoji);
    EXPECT_EQ(characterCount(emoji, 2), 2u);
    EXPECT_EQ(characterCount("/\xCC\x81"
                             "a"),
              2u);
    EXPECT_EQ(prefixCharacters(std::string(300, 'x'), 255), std::string(255, 'x'));
}

} // namespace
} // namespace varnello
