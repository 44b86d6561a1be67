#include "support/UnicodeScalars.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

TEST(UnicodeScalars, ControlSetIsCategoriesCcAndCf) {
    for (const char32_t c : {U'\0', U'\t', U'\x1F', U'\x7F', U'\x85', U'\x9F', U'\xAD', U'\x200B',
                             U'\x200F', U'\x2060', U'\xFEFF'}) {
        EXPECT_TRUE(isControlScalar(c)) << static_cast<unsigned>(c);
    }
    for (const char32_t c : {U' ', U'a', U'\xA0', U'\x2028', U'\x3000', U'\x1F600'}) {
        EXPECT_FALSE(isControlScalar(c)) << static_cast<unsigned>(c);
    }
}

TEST(UnicodeScalars, WhiteSpaceIsTheUnicodeProperty) {
    for (const char32_t c : {U'\t', U'\n', U'\r', U' ', U'\x85', U'\xA0', U'\x2028', U'\x3000'}) {
        EXPECT_TRUE(isWhiteSpaceScalar(c)) << static_cast<unsigned>(c);
    }
    for (const char32_t c : {U'a', U'\0', U'\x200B', U'/'}) {
        EXPECT_FALSE(isWhiteSpaceScalar(c)) << static_cast<unsigned>(c);
    }
}

TEST(UnicodeScalars, DecodesWellFormedUtf8Only) {
    EXPECT_EQ(utf8Scalars("a\xC3\xA9\xF0\x9F\x98\x80"), std::u32string(U"a\xE9\x1F600"));
    EXPECT_EQ(utf8Scalars(std::string_view("a\0b", 3)), std::u32string(U"a\0b", 3));
    for (const std::string_view bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xFF"}) {
        EXPECT_EQ(utf8Scalars(bad), std::nullopt);
    }
}

TEST(UnicodeScalars, RemovesControlScalarsOnly) {
    EXPECT_EQ(removingControlScalars("\tStudio\xE2\x80\x8B Mac\n"), "Studio Mac");
}

TEST(UnicodeScalars, TrimsWhiteSpaceAtBothEndsOnly) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"  host \t\n", "host"},
        {"\xC2\xA0\xE3\x80\x80" "a b\xE2\x80\xA8", "a b"},
        {" \xFF ", "\xFF"},
        {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx"}, // zero-width space is not White_Space
        {"   ", ""},
        {"", ""},
    };
    for (const auto& [text, trimmed] : cases) {
        EXPECT_EQ(trimmingWhiteSpace(text), trimmed) << text;
    }
}

TEST(UnicodeScalars, ReplacesIllFormedSequencesWithReplacementCharacter) {
    EXPECT_EQ(replacingIllFormedUTF8("ok \xC3\xA9"), "ok \xC3\xA9");
    EXPECT_EQ(replacingIllFormedUTF8("a\xFF"
                                     "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(replacingIllFormedUTF8("\xC3"), "\xEF\xBF\xBD");
}

} // namespace
} // namespace varnello
