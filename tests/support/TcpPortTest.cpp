#include "support/TcpPort.h"

#include <gtest/gtest.h>
#include <optional>
#include <string_view>

namespace varnello {
namespace {

TEST(TcpPort, OnlyPlainDecimalPortsAreRead) {
    const struct {
        std::string_view text;
        std::optional<std::uint16_t> expected;
    } cases[] = {
        {"1", 1},
        {"54885", 54885},
        {"65535", 65535},
        {"080", 80},
        {"0", std::nullopt},
        {"00", std::nullopt},
        {"65536", std::nullopt},
        {"4294967297", std::nullopt}, // 2^32 + 1 must not wrap round to 1
        {"99999999999999999999", std::nullopt},
        {"-1", std::nullopt},
        {"-54885", std::nullopt},
        {"+80", std::nullopt},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"80abc", std::nullopt},
        {" 80", std::nullopt},
        {"80 ", std::nullopt},
        {"80.0", std::nullopt},
        {"8e3", std::nullopt},
        {"0x50", std::nullopt},
        {"\"80\"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseTcpPort(c.text), c.expected) << "\u2018" << c.text << "\u2019";
    }
}

} // namespace
} // namespace varnello
