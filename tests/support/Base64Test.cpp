#include "support/Base64.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(Base64, RoundTripsTheRfc4648Vectors) {
    const std::pair<std::string_view, std::string_view> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(bytesOf(plain)), encoded);
        EXPECT_EQ(base64Decode(encoded), bytesOf(plain)) << encoded;
    }
}

TEST(Base64, RoundTripsEveryByteValue) {
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    EXPECT_EQ(base64Decode(base64Encode(all)), all);
}

TEST(Base64, RefusesEverythingThatIsNotCanonical) {
    const std::string_view refused[] = {
        "Zg",        // padding missing
        "Zg=",       // length not a multiple of 4
        "Zh==",      // unused bits not zero
        "Zm9=",      // unused bits not zero
        "Zg==Zg==",  // padding inside
        "Z===",      // too much padding
        "====",      // nothing but padding
        "Zm9v\n",    // line break
        "Zm 9",      // space
        "Zm-_",      // URL-safe alphabet
        "Zm9v Zg==", // inner space
        "=Zm9",      // padding first
    };
    for (const auto text : refused) {
        EXPECT_EQ(base64Decode(text), std::nullopt) << text;
    }
}

} // namespace
} // namespace varnello
