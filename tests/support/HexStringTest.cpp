#include "support/HexString.h"

#include <gtest/gtest.h>
#include <vector>

namespace varnello {
namespace {

TEST(HexString, WritesTwoLowerCaseDigitsPerByte) {
    const std::vector<std::uint8_t> bytes = {0x00, 0x0f, 0xa0, 0xff, 0x7e};
    EXPECT_EQ(hexString(bytes), "000fa0ff7e");
    EXPECT_EQ(hexString({}), "");
}

} // namespace
} // namespace varnello
